# Debian packages, one per install component (see Install.cmake):
#
#   libvidazohx      the library               (component library)
#   libvidazohx-dev  header, CMake package, .pc (component development)
#   vidazohx-sim     the stand-ins             (component sim)
#
# and libvidazohx-dbgsym and vidazohx-sim-dbgsym (.ddeb) with the debug
# symbols split off the stripped libraries. `cpack --preset deb` builds them
# for the build machine, `cpack --preset deb-armhf` from the cross build.
# cmake/PACKAGING.md explains the choices and the lintian warnings left.

set(CPACK_PACKAGE_NAME vidazohx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it in front of every
# component's description, and each description below starts with its own
# synopsis line.
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
# The development files and the stand-ins go with the library of their own
# version (and, being Multi-Arch: same, of their own architecture).
set(VIDAZOHX_DEB_VERSION_PIN "(= ${PROJECT_VERSION})")

# ---- stripped libraries, debug symbols apart --------------------------------

# CPack splits the debug information of every ELF file into a -dbgsym .ddeb
# (under /usr/lib/debug/.build-id) and strips the file in the package. The
# binutils must be the target's: the build machine's objcopy cannot rewrite
# ARM objects.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_OBJCOPY_EXECUTABLE ${CMAKE_OBJCOPY})
set(CPACK_READELF_EXECUTABLE ${CMAKE_READELF})

# A shlibs file (the libraries with a versioned soname), so that packages
# built against these libraries get their dependency from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Packages with libraries in the loader's directories activate libc's
# ldconfig trigger; cmake/DebFinish.cmake drops the ldconfig maintainer
# scripts CPack writes in its place and adds the Multi-Arch field, which
# CPack does not know.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_SIM_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebFinish.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# ---- the packages -----------------------------------------------------------

# Descriptions: the synopsis, then the long description; CPack indents its
# lines as the control file wants.

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libvidazohx)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "host interface library for FPGA targets
libViDazoHx lets a host programming environment drive FPGA targets through
the lower FPGA interface library, adding session bookkeeping, host array
handling and zero-copy FIFO regions.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${VIDAZOHX_DEB_RUNTIME_DEPENDS}")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvidazohx-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "development files for libViDazoHx
Header, CMake package (find_package(ViDazoHx)) and pkg-config file
(vidazohx) of libViDazoHx, the host interface library for FPGA targets.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libvidazohx ${VIDAZOHX_DEB_VERSION_PIN}")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME vidazohx-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_DESCRIPTION "simulated target for developing libViDazoHx hosts
Stand-ins for the lower FPGA interface library, the resource broker and the
host runtime, with their control APIs, CMake package (find_package(ViDazoSim))
and pkg-config files. For development and tests, not for deployment.")
# The host-runtime stand-in's header builds on the library's public header.
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS
  "${VIDAZOHX_DEB_RUNTIME_DEPENDS}, libvidazohx-dev ${VIDAZOHX_DEB_VERSION_PIN}")

# ---- copyright and changelog, in every package ------------------------------

# Debian wants them in /usr/share/doc/<package>/ of each package, the
# changelog compressed with gzip -9n (no name or time in the header, so that
# the amd64 and armhf packages ship the same bytes, as Multi-Arch: same
# requires). The packages carry no Debian revision (native packages), so the
# changelog is changelog.gz. The copyright file quotes LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE VIDAZOHX_LICENSE_BODY)
string(REGEX REPLACE "^.*Copyright [^\n]*\n\n" "" VIDAZOHX_LICENSE_BODY "${VIDAZOHX_LICENSE_BODY}")
string(REGEX REPLACE "\n+$" "" VIDAZOHX_LICENSE_BODY "${VIDAZOHX_LICENSE_BODY}")
string(REPLACE "\n\n" "\n.\n" VIDAZOHX_LICENSE_BODY "${VIDAZOHX_LICENSE_BODY}")
string(REPLACE "\n" "\n " VIDAZOHX_LICENSE_BODY " ${VIDAZOHX_LICENSE_BODY}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
execute_process(
  COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
    COMPONENT ${component})
endforeach()

include(CPack)
cpack_add_component(library DISPLAY_NAME "libViDazoHx")
cpack_add_component(development DISPLAY_NAME "libViDazoHx development files" DEPENDS library)
cpack_add_component(sim DISPLAY_NAME "Simulated target")
