# Installation layout, in three components:
#
#   library      libViDazoHx.so.inherit and the libViDazoHx.so name the host
#                loads the library by, in the library directory
#                (CMAKE_INSTALL_LIBDIR: lib/<triplet> on Debian, see
#                CMakeLists.txt), and the gdb extension where gdb loads it;
#   development  the public header, the CMake package (find_package(ViDazoHx)
#                gives ViDazoHx::ViDazoHx) and vidazohx.pc;
#   sim          the stand-ins for the lower library, the resource broker and
#                the host runtime, with their headers, their CMake package
#                (find_package(ViDazoSim)) and pkg-config files. They are a
#                product of their own, for developing hosts without a target.
#
# Each component also installs the copyright and changelog of its Debian
# package in share/doc/<package> (see Packaging.cmake).
#
# Nothing installed carries an RPATH/RUNPATH: the library must find the lower
# library through the loader's search path, as on a deployed target.

include(CMakePackageConfigHelpers)

set(VIDAZOHX_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ViDazoHx)
set(VIDAZOSIM_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ViDazoSim)
set(VIDAZOHX_PKGCONFIG_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# vidazohx_install_package(<name> <destination> <component>)
# Installs the CMake package <name>: its exported targets <name>Targets in
# the namespace <name>::, <name>Config.cmake from <name>Config.cmake.in, and
# a version file (same major version is compatible).
function(vidazohx_install_package name destination component)
  install(EXPORT ${name}Targets NAMESPACE ${name}::
    DESTINATION ${destination} COMPONENT ${component})
  configure_package_config_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}Config.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/${name}Config.cmake
    INSTALL_DESTINATION ${destination})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/${name}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES
    ${PROJECT_BINARY_DIR}/cmake/${name}Config.cmake
    ${PROJECT_BINARY_DIR}/cmake/${name}ConfigVersion.cmake
    DESTINATION ${destination} COMPONENT ${component})
endfunction()

# ---- the library ----------------------------------------------------------

# The host runtime opens "libViDazoHx.so" and the library opens "libViDazo.so"
# by those names at run time, so the unversioned names belong to the runtime
# component, not to the development files.
install(TARGETS ViDazoHx EXPORT ViDazoHxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
          NAMELINK_COMPONENT library)
install(FILES ${PROJECT_SOURCE_DIR}/include/ViDazoHx/ViDazoHx.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ViDazoHx COMPONENT development)

# The gdb extension (tools/gdb): gdb loads <datadir>/gdb/auto-load/<the
# library's real path>-gdb.py by itself when it loads the library. The path
# named is the library's in the package (prefix /usr); installed under
# another prefix, the extension is loaded with `source`.
get_target_property(_library_version ViDazoHx VERSION)
install(FILES ${PROJECT_SOURCE_DIR}/tools/gdb/vidazohx.py
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/gdb/auto-load/usr/${CMAKE_INSTALL_LIBDIR}
  RENAME libViDazoHx.so.${_library_version}-gdb.py COMPONENT library)

vidazohx_install_package(ViDazoHx ${VIDAZOHX_CMAKE_INSTALL_DIR} development)

# ---- the stand-ins ----------------------------------------------------------

# Exported as ViDazoSim::ViDazo, ViDazoSim::VoKelSrv, ViDazoSim::HostRuntime.
# The host-runtime stand-in is the one library here whose name nothing else
# fixes; installed into the loader's directory it carries a versioned soname
# (libHostRuntimeSim.so.1) like any public library, so that a host linked
# against it names that version. The file is named after the soname, as the
# broker's is, so that tests staging libraries by file name stage the name
# the loader looks for.
set_target_properties(HostRuntimeSim PROPERTIES SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(ViDazoSim PROPERTIES EXPORT_NAME ViDazo)
set_target_properties(VoKelSrvSim PROPERTIES EXPORT_NAME VoKelSrv)
set_target_properties(HostRuntimeSim PROPERTIES EXPORT_NAME HostRuntime)
install(TARGETS ViDazoSim VoKelSrvSim HostRuntimeSim EXPORT ViDazoSimTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sim NAMELINK_COMPONENT sim
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sim
  FILES_MATCHING PATTERN "*.h")

vidazohx_install_package(ViDazoSim ${VIDAZOSIM_CMAKE_INSTALL_DIR} sim)

# ---- pkg-config -------------------------------------------------------------

# Two sets of .pc files from the same templates. The installed ones locate
# the prefix from their own place (${pcfiledir}), so the same files serve
# `cmake --install --prefix <anywhere>` and the packages. The build tree's,
# in <build>/pkgconfig, name the build tree's library directory and the
# source tree's headers, so that a host can be built against a build tree
# (PKG_CONFIG_PATH=<build>/pkgconfig) before anything is installed.
file(RELATIVE_PATH _pc_up /root/${VIDAZOHX_PKGCONFIG_INSTALL_DIR} /root)
string(REGEX REPLACE "/$" "" _pc_up "${_pc_up}")
foreach(pc vidazohx vidazosim vokelsrvsim hostruntimesim)
  set(VIDAZOHX_PC_PREFIX "\${pcfiledir}/${_pc_up}")
  set(VIDAZOHX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(VIDAZOHX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${pc}.pc.in
    ${PROJECT_BINARY_DIR}/cmake/pkgconfig/${pc}.pc @ONLY)

  set(VIDAZOHX_PC_PREFIX ${PROJECT_BINARY_DIR})
  set(VIDAZOHX_PC_LIBDIR ${VIDAZOHX_LIBRARY_DIR})
  set(VIDAZOHX_PC_INCLUDEDIR ${PROJECT_SOURCE_DIR}/sim/include)
  if(pc STREQUAL "vidazohx")
    set(VIDAZOHX_PC_INCLUDEDIR ${PROJECT_SOURCE_DIR}/include)
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${pc}.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/cmake/pkgconfig/vidazohx.pc
  DESTINATION ${VIDAZOHX_PKGCONFIG_INSTALL_DIR} COMPONENT development)
install(FILES
  ${PROJECT_BINARY_DIR}/cmake/pkgconfig/vidazosim.pc
  ${PROJECT_BINARY_DIR}/cmake/pkgconfig/vokelsrvsim.pc
  ${PROJECT_BINARY_DIR}/cmake/pkgconfig/hostruntimesim.pc
  DESTINATION ${VIDAZOHX_PKGCONFIG_INSTALL_DIR} COMPONENT sim)
