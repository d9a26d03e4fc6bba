/*
 * VoKelSrv.h: declarations of the resource-broker library (libVoKelSrv.so.13).
 *
 * The broker keeps the table of FPGA resources ("sim0", "sim1", ...) that
 * sessions are opened on and hands out indexes into it. libViDazoHx calls
 * these four functions directly; the broker stand-in under sim/ implements
 * them. All return an int32_t status (0 success, negative error).
 */
#ifndef VOKELSRV_VOKELSRV_H
#define VOKELSRV_VOKELSRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VOKELSRV_API __attribute__((visibility("default")))
#else
#define VOKELSRV_API
#endif

/* Writes the names of all resources, separated by ',', NUL-terminated, into
 * `names` (at most `capacity` bytes) and their number into `count`.
 * `session` may be 0 (no session). */
VOKELSRV_API int32_t VoKelSrv_fpga_GetResources(uint32_t session, char* names, uint32_t capacity, uint32_t* count);
/* Writes the name of resource `index` into `name` (at most `capacity` bytes). */
VOKELSRV_API int32_t VoKelSrv_broker_GetResourceName(uint32_t index, char* name, uint32_t capacity);
/* Finds the resource called `name` and marks its index as in use. */
VOKELSRV_API int32_t VoKelSrv_broker_GetResourceIndex(const char* name, uint32_t* index);
/* Gives back an index handed out by VoKelSrv_broker_GetResourceIndex. */
VOKELSRV_API int32_t VoKelSrv_broker_ReleaseResourceIndex(uint32_t index);

#ifdef __cplusplus
}
#endif

#endif /* VOKELSRV_VOKELSRV_H */
