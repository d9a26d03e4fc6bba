/*
 * VoKelSrvSim.h: control API of the simulated resource broker.
 *
 * The simulated broker keeps the resource table that sessions are opened on.
 * These functions let the simulated lower library and tests fill the table
 * and look names up in it. Both return an int32_t status (0 success,
 * negative error).
 */
#ifndef VOKELSRV_VOKELSRVSIM_H
#define VOKELSRV_VOKELSRVSIM_H

#include <stdint.h>

#include "VoKelSrv/VoKelSrv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Adds `count` resource names to the broker's resource table. */
VOKELSRV_API int32_t VoKelSrvSim_AddResources(const char* const* names, uint32_t count);
/* Finds `name` in the resource table; 0 and its index when found, negative when unknown. */
VOKELSRV_API int32_t VoKelSrvSim_LookupResource(const char* name, uint32_t* index);

#ifdef __cplusplus
}
#endif

#endif /* VOKELSRV_VOKELSRVSIM_H */
