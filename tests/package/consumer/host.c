/*
 * A minimal host program built outside this project's tree against an
 * installed libViDazoHx, to prove that the installed header, CMake package
 * and pkg-config file are enough to build and run a host.
 *
 * Built twice: linked with the host-runtime stand-in (HOST_OWN_RUNTIME
 * undefined), and, as a real host is, providing the host-runtime functions
 * itself with only the library package found (HOST_OWN_RUNTIME defined).
 *
 * Written in C so that the public header is also checked to be C-clean.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ViDazoHx/ViDazoHx.h>

#ifdef HOST_OWN_RUNTIME
/* This host has no arrays or references to offer, and never stops while a
 * session is open: the calls below need no more than accepting the cleanup
 * registration. */
int32_t NumericArrayResize(int32_t typeCode, int32_t dimensions, ViDazoHx_ArrayHandle* array, uint32_t count) {
  (void)typeCode, (void)dimensions, (void)array, (void)count;
  return 2;
}
int32_t RTSetCleanupProc(ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode) {
  (void)procedure, (void)argument, (void)mode;
  return 0;
}
int32_t EDVR_CreateReference(uint32_t* reference, ViDazoHx_DataRecord** record) {
  (void)reference, (void)record;
  return 2;
}
#endif

static int failures;

static void expect(const char* what, int32_t got, int32_t want) {
  printf("%-58s %7d%s\n", what, (int)got, got == want ? "" : "  <-- unexpected");
  if (got != want) {
    ++failures;
  }
}

int main(void) {
  /* Loading the library already bound the lower library; a session value
   * with bit 0x2000 is refused before the lower library is asked. */
  uint32_t value = 0;
  expect("Read32 on a session with bit 0x2000", ViDazoHx_Read32(0x2000u | 1u, 0, &value),
         ViDazoHx_StatusSessionNotSupported);

  ViDazoHx_IrqContext context = NULL;
  expect("ReserveIrqContext", ViDazoHx_ReserveIrqContext(1, &context), 0);
  expect("UnreserveIrqContext", ViDazoHx_UnreserveIrqContext(1, &context), 0);

  /* Goes through the library to the resource broker it is linked with; the
   * simulated broker knows "sim0". */
  uint32_t index = 0xFFFFFFFFu;
  expect("GetResourceIndex(\"sim0\")", ViDazoHx_GetResourceIndex("sim0", &index), 0);
  expect("  index of \"sim0\"", (int32_t)index, 0);
  if (index != 0xFFFFFFFFu) {
    expect("ReleaseResourceIndex", ViDazoHx_ReleaseResourceIndex(index), 0);
  }

  /* A whole session against the simulated target on "sim0". */
  uint32_t session = 0;
  expect("Open(\"sim0\")", ViDazoHx_Open("host.bitfile", "host-signature", "sim0", 0, &session), 0);
  expect("Write32", ViDazoHx_Write32(session, 0x40, 0x12345678u), 0);
  value = 0;
  expect("Read32", ViDazoHx_Read32(session, 0x40, &value), 0);
  expect("  the value written reads back", value == 0x12345678u, 1);
  expect("Close", ViDazoHx_Close(session, 0), 0);

  printf("%s\n", failures == 0 ? "host: all calls answered as expected" : "host: FAILED");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
