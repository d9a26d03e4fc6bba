# The version a host sees must be one version: the header's macros, the
# library's version block, the CMake package and the pkg-config file. A
# release that bumps one and forgets another would let a host build against
# one version and run another without noticing.
#
#   cmake -DHEADER=<ViDazoHx.h> -DLIBRARY=<libViDazoHx.so> \
#         -DPACKAGE_VERSION_FILE=<ViDazoHxConfigVersion.cmake> -DPC_FILE=<vidazohx.pc> -P checkVersion.cmake
foreach(part MAJOR MINOR PATCH)
  file(STRINGS ${HEADER} line REGEX "^#define VIDAZOHX_VERSION_${part} ")
  string(REGEX REPLACE ".* ([0-9]+)$" "\\1" ${part} "${line}")
endforeach()
set(header_version "${MAJOR}.${MINOR}.${PATCH}")

file(STRINGS ${LIBRARY} block_line REGEX "^ViDazoHx\\.version=")
# Debug information may carry the block a second time; every copy must agree.
list(REMOVE_DUPLICATES block_line)
string(REGEX REPLACE "^ViDazoHx\\.version=" "" block_version "${block_line}")

include(${PACKAGE_VERSION_FILE})  # sets PACKAGE_VERSION

file(STRINGS ${PC_FILE} pc_line REGEX "^Version: ")
string(REGEX REPLACE "^Version: " "" pc_version "${pc_line}")

message(STATUS "header ${header_version}, version block ${block_version}, "
               "CMake package ${PACKAGE_VERSION}, pkg-config ${pc_version}")
foreach(other block_version PACKAGE_VERSION pc_version)
  if(NOT "${${other}}" STREQUAL "${header_version}")
    message(FATAL_ERROR "${other} is '${${other}}', the header says ${header_version}")
  endif()
endforeach()
