/* Compiled as C89, C99 and C++98 (see CMakeLists.txt) with -pedantic
 * -Werror: hosts include the public headers from any of them. */
#include <ViDazoHx/ViDazoHx.h>
#include <ViDazo/ViDazoSim.h>
#include <HostRuntime/HostRuntimeSim.h>

#if !defined(VIDAZOHX_VERSION_MAJOR) || !defined(VIDAZOHX_VERSION_MINOR) || !defined(VIDAZOHX_VERSION_PATCH)
#error "the version macros are missing"
#endif

/* The simulator takes the library's element type codes. */
#define SAME_CODE(type) ((int)ViDazoSim_Type##type == (int)ViDazoHx_Type##type)
typedef char simulatorTypeCodesAreTheLibrarys[(SAME_CODE(I8) && SAME_CODE(I16) && SAME_CODE(I32) && SAME_CODE(I64) &&
                                               SAME_CODE(U8) && SAME_CODE(U16) && SAME_CODE(U32) && SAME_CODE(U64))
                                                  ? 1
                                                  : -1];

const char* headerCheckName(int32_t status);

/* The names are there wherever an inline function can be. */
const char* headerCheckName(int32_t status) {
#if defined(VIDAZOHX_STATUS_TEXT_INLINE) && defined(VIDAZOSIM_STATUS_TEXT_INLINE)
  const char* name = ViDazoSim_StatusText(status);
  return name != 0 ? name : ViDazoHx_StatusText(status);
#else
  (void)status;
  return "";
#endif
}
