# Debian packages, one per install component (see Install.cmake):
#
#   libvidazohx      the library               (component library)
#   libvidazohx-dev  header, CMake package, .pc (component development)
#   vidazohx-sim     the stand-ins             (component sim)
#
# `cpack --preset deb` builds them for the build machine, `cpack --preset
# deb-armhf` from the cross build.

set(CPACK_PACKAGE_NAME vidazohx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host interface library for FPGA targets")
set(CPACK_PACKAGE_CONTACT "libViDazoHx maintainers <maintainers@vidazohx.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL library development sim)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)

# The architecture is the target's, not the build machine's: CPack would ask
# dpkg on the build machine, which answers amd64 for a cross build too.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|armv7.*)$")
  set(VIDAZOHX_DEB_ARCH armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(VIDAZOHX_DEB_ARCH arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(VIDAZOHX_DEB_ARCH amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
  set(VIDAZOHX_DEB_ARCH i386)
else()
  message(FATAL_ERROR "No Debian architecture known for processor ${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VIDAZOHX_DEB_ARCH})

# Dependencies are stated rather than computed: dpkg-shlibdeps cannot run for
# a cross build, and the library's lower library and broker come from the
# target's own installation, not from a Debian package of this project.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(VIDAZOHX_DEB_RUNTIME_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
set(VIDAZOHX_DEB_VERSION_PIN "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libvidazohx)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "Host interface library for FPGA targets
 libViDazoHx lets a host programming environment drive FPGA targets through
 the lower FPGA interface library, adding session bookkeeping, host array
 handling and zero-copy FIFO regions.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${VIDAZOHX_DEB_RUNTIME_DEPENDS}")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvidazohx-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Host interface library for FPGA targets (development files)
 Header, CMake package (find_package(ViDazoHx)) and pkg-config file
 (vidazohx) of libViDazoHx.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libvidazohx ${VIDAZOHX_DEB_VERSION_PIN}")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME vidazohx-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_DESCRIPTION "Simulated target for developing libViDazoHx hosts
 Stand-ins for the lower FPGA interface library, the resource broker and the
 host runtime, with their control APIs, CMake package (find_package(ViDazoSim))
 and pkg-config files. For development and tests, not for deployment.")
# The host-runtime stand-in's header builds on the library's public header.
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS
  "${VIDAZOHX_DEB_RUNTIME_DEPENDS}, libvidazohx-dev ${VIDAZOHX_DEB_VERSION_PIN}")

include(CPack)
cpack_add_component(library DISPLAY_NAME "libViDazoHx")
cpack_add_component(development DISPLAY_NAME "libViDazoHx development files" DEPENDS library)
cpack_add_component(sim DISPLAY_NAME "Simulated target")
