/*
 * host.c: a complete host of libViDazoHx in C. Start here when you write
 * your own.
 *
 * A host is the program that loads libViDazoHx and calls its functions;
 * ViDazoHx/ViDazoHx.h documents every one of them, its statuses and what
 * may block. This host drives the simulated target, so it needs no
 * hardware:
 *
 *   - the simulated lower library (libViDazo.so, control header
 *     ViDazo/ViDazoSim.h) plays the FPGA target: registers, IRQs, FIFOs;
 *   - the host-runtime stand-in (libHostRuntimeSim.so, control header
 *     HostRuntime/HostRuntimeSim.h) provides NumericArrayResize,
 *     RTSetCleanupProc and EDVR_CreateReference, which a real hosting
 *     process provides itself, and lets this program make host arrays and
 *     dispose of references the way such a process does.
 *
 * The walk: open a session, write and read a register, ring and wait for an
 * IRQ, stream elements by copy and through write and read regions (lent
 * without copying), meet two refusals and handle them by status name, close.
 *
 * Build and run against an installation under <prefix> (see the Makefile):
 *
 *   make PKG_CONFIG_PATH=<prefix>/<libdir>/pkgconfig
 *   LD_LIBRARY_PATH=<prefix>/<libdir> ./host
 */
#include <stdio.h>
#include <stdlib.h>

#include <HostRuntime/HostRuntimeSim.h>
#include <ViDazo/ViDazoSim.h>
#include <ViDazoHx/ViDazoHx.h>

/* The simulator's default FIFOs: 6 carries unsigned 32-bit elements from
 * the target to the host, 15 the same type from the host to the target.
 * A loopback routes what the host commits to 15 into 6, so this host reads
 * back what it wrote. */
#define TO_HOST_FIFO 6u
#define FROM_HOST_FIFO 15u
#define ELEMENTS 256u
#define TIMEOUT_MS 1000u
#define SCRATCH_REGISTER 0x100u
#define DEMO_IRQ (1u << 3)

static int failures;

/* The simulator names the statuses it answers (the library passes them on
 * unchanged); the library names its own and says where any other comes
 * from. */
static const char* statusName(int32_t status) {
  const char* name = ViDazoSim_StatusText(status);
  return name != NULL ? name : ViDazoHx_StatusText(status);
}

/* Every function returns a status: 0 success, negative error, positive
 * warning (the call did its work). Returns 1 when the call did its work. */
static int check(const char* call, int32_t status) {
  if (status != 0) {
    printf("  %s: %s %d (%s)\n", call, status < 0 ? "error" : "warning", (int)status, statusName(status));
  }
  if (status < 0) {
    ++failures;
  }
  return status >= 0;
}

/* A refusal this host provokes on purpose: anything else is a failure. */
static void expectRefusal(const char* call, int32_t status, int32_t expected) {
  printf("  %s: %d (%s)%s\n", call, (int)status, statusName(status), status == expected ? ", as expected" : "");
  if (status != expected) {
    ++failures;
  }
}

/* The element of the stream at `index`: recognisable, and checkable. */
static uint32_t patternAt(uint32_t index) { return 0xA5000000u + index; }

/* A host array block holds a 32-bit count, then the elements: at offset 4
 * for 32-bit elements (offset 8 for the 64-bit types). */
static uint32_t* arrayElements(ViDazoHx_ArrayHandle array) {
  return (uint32_t*)((unsigned char*)*array + 4);
}

static void checkElements(const char* path, const uint32_t* elements, uint32_t count, uint32_t firstIndex) {
  uint32_t i;
  for (i = 0; i < count; ++i) {
    if (elements[i] != patternAt(firstIndex + i)) {
      printf("  %s: element %u is 0x%08X, expected 0x%08X\n", path, (unsigned)(firstIndex + i),
             (unsigned)elements[i], (unsigned)patternAt(firstIndex + i));
      ++failures;
      return;
    }
  }
}

/* By copy: the library copies the host array into the FIFO. */
static void writeByCopy(uint32_t session, ViDazoHx_ArrayHandle array) {
  uint32_t* elements = arrayElements(array);
  uint32_t i;
  for (i = 0; i < ELEMENTS; ++i) {
    elements[i] = patternAt(i);
  }
  (*array)->count = ELEMENTS; /* the write takes as many elements as the count says */
  check("WriteFifoScalar",
        ViDazoHx_WriteFifoScalar(session, FROM_HOST_FIFO, array, ViDazoHx_TypeU32, 0, TIMEOUT_MS, NULL));
}

/* Through write regions: the library lends free places of the FIFO's own
 * buffer; the host fills them in place, and disposing of the reference
 * commits them to the target. A run ends at the buffer's end, so a region
 * may be shorter than asked for: loop until all are written. */
static void writeByRegions(uint32_t session) {
  uint32_t done = 0;
  while (done < ELEMENTS) {
    uint32_t reference = 0, acquired = 0, i;
    ViDazoHx_DataRecord* record;
    if (!check("AcquireFifoWriteRegionScalar",
               ViDazoHx_AcquireFifoWriteRegionScalar(session, FROM_HOST_FIFO, &reference, ELEMENTS - done,
                                                     ViDazoHx_TypeU32, 0, TIMEOUT_MS, &acquired, NULL))) {
      return;
    }
    record = HostRuntimeSim_ReferenceRecord(reference); /* a real host reads its own reference */
    for (i = 0; i < record->elementCount; ++i) {
      ((uint32_t*)record->elements)[i] = patternAt(ELEMENTS + done + i);
    }
    done += record->elementCount;
    check("dispose of the write region", HostRuntimeSim_DisposeReference(reference));
  }
}

/* By copy: the library resizes the host array and reads into it. */
static void readByCopy(uint32_t session, ViDazoHx_ArrayHandle array) {
  if (check("ReadFifoScalar",
            ViDazoHx_ReadFifoScalar(session, TO_HOST_FIFO, ELEMENTS, ViDazoHx_TypeU32, 0, TIMEOUT_MS, array, NULL))) {
    checkElements("read by copy", arrayElements(array), (uint32_t)(*array)->count, 0);
  }
}

/* Through read regions: the host reads the elements where the target put
 * them; disposing of the reference gives them back to the FIFO. */
static void readByRegions(uint32_t session) {
  uint32_t done = 0;
  while (done < ELEMENTS) {
    uint32_t reference = 0, acquired = 0;
    const ViDazoHx_DataRecord* record;
    if (!check("AcquireFifoReadRegionScalar",
               ViDazoHx_AcquireFifoReadRegionScalar(session, TO_HOST_FIFO, &reference, ELEMENTS - done,
                                                    ViDazoHx_TypeU32, 0, TIMEOUT_MS, &acquired, NULL))) {
      return;
    }
    record = HostRuntimeSim_ReferenceRecord(reference);
    checkElements("read by regions", (const uint32_t*)record->elements, record->elementCount, ELEMENTS + done);
    done += record->elementCount;
    check("dispose of the read region", HostRuntimeSim_DisposeReference(reference));
  }
}

/* Two refusals, handled by name: a region cannot be had from an empty FIFO
 * without waiting, and a download is refused while a region is lent. */
static void meetRefusals(uint32_t session) {
  uint32_t reference = 0, acquired = 0;
  expectRefusal("AcquireFifoReadRegionScalar on an empty FIFO, timeout 0",
                ViDazoHx_AcquireFifoReadRegionScalar(session, TO_HOST_FIFO, &reference, 16, ViDazoHx_TypeU32, 0, 0,
                                                     &acquired, NULL),
                ViDazoHx_StatusFifoTimeout);
  if (check("AcquireFifoWriteRegionScalar",
            ViDazoHx_AcquireFifoWriteRegionScalar(session, FROM_HOST_FIFO, &reference, 16, ViDazoHx_TypeU32, 0,
                                                  TIMEOUT_MS, &acquired, NULL))) {
    expectRefusal("Download while a region is lent", ViDazoHx_Download(session), ViDazoHx_StatusRegionsOutstanding);
    /* Disposing of a write region commits its places, whatever they hold. */
    check("dispose of the write region", HostRuntimeSim_DisposeReference(reference));
  }
}

int main(void) {
  uint32_t session = 0, value = 0, asserted = 0;
  uint8_t timedOut = 1;
  ViDazoHx_IrqContext context = NULL;
  ViDazoHx_ArrayHandle array;

  /* Bitfile and signature are the lower library's to interpret; the
   * simulator only records them. "sim0" is a resource of its broker. */
  if (!check("Open", ViDazoHx_Open("example.bitfile", "example-signature", "sim0", 0, &session))) {
    return EXIT_FAILURE;
  }
  printf("session %u open on \"sim0\"\n", (unsigned)session);

  check("Write32", ViDazoHx_Write32(session, SCRATCH_REGISTER, 0x12345678u));
  check("Read32", ViDazoHx_Read32(session, SCRATCH_REGISTER, &value));
  printf("register 0x%X reads 0x%08X\n", SCRATCH_REGISTER, (unsigned)value);

  /* The simulator raises the IRQs written to its doorbell register. */
  check("Write32 (doorbell)", ViDazoHx_Write32(session, ViDazoSim_DoorbellOffset, DEMO_IRQ));
  check("WaitOnIrqs", ViDazoHx_WaitOnIrqs(session, &context, DEMO_IRQ, TIMEOUT_MS, &asserted, &timedOut));
  check("AcknowledgeIrqs", ViDazoHx_AcknowledgeIrqs(session, asserted));
  printf("irq: asserted 0x%08X, timed out %s\n", (unsigned)asserted, timedOut ? "yes" : "no");

  /* Regions need started FIFOs. */
  check("ViDazoSim_SetLoopback", ViDazoSim_SetLoopback(session, FROM_HOST_FIFO, TO_HOST_FIFO));
  check("StartFifo", ViDazoHx_StartFifo(session, FROM_HOST_FIFO));
  check("StartFifo", ViDazoHx_StartFifo(session, TO_HOST_FIFO));

  array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, ELEMENTS); /* a real host makes its own arrays */
  if (array == NULL) {
    printf("no host array\n");
    return EXIT_FAILURE;
  }
  writeByCopy(session, array);
  writeByRegions(session);
  readByCopy(session, array);
  readByRegions(session);
  printf("streamed %u elements each way, by copy and through regions\n", 2 * ELEMENTS);
  HostRuntimeSim_FreeArray(array);

  meetRefusals(session);

  check("Close", ViDazoHx_Close(session, 0));
  printf("%s\n", failures == 0 ? "c host: done" : "c host: FAILED");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
