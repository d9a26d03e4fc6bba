# Finishes the .deb and .ddeb files CPack made (run by CPack after packaging,
# through CPACK_POST_BUILD_SCRIPTS, with the package files in
# CPACK_PACKAGE_FILES). CPack 3.25 cannot do three things Debian asks for:
#
# - the Multi-Arch field: every package here is Multi-Arch: same, since each
#   architecture's files live under lib/<triplet> and whatever lies outside
#   (headers, copyright, changelog) is the same bytes on every architecture;
# - the ldconfig trigger instead of maintainer scripts: a package that brings
#   a triggers file (see Packaging.cmake) does not need the postinst and postrm
#   CPack writes to run ldconfig, and lintian warns about them. Scripts that do
#   anything else are kept;
# - debug symbol packages as Debian makes them: CPack lists their files in
#   md5sums by the absolute path of its staging tree, and gives them no
#   /usr/share/doc/<package>-dbgsym, which Debian makes a link to the
#   documentation of the package they belong to (and depend on).
#
# Each package is unpacked with dpkg-deb, changed, and built again in place.

# Whether a maintainer script does nothing but run ldconfig.
function(vidazohx_only_runs_ldconfig script result)
  file(READ ${script} text)
  string(REGEX REPLACE "#![^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n|[ \t]*ldconfig\n|fi\n|[ \t]*\n" "" rest "${text}")
  if(rest STREQUAL "" AND text MATCHES "ldconfig")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

# Writes DEBIAN/md5sums for the regular files of an unpacked package.
function(vidazohx_write_md5sums tree)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/*)
  list(FILTER files EXCLUDE REGEX "^DEBIAN/")
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    if(NOT IS_SYMLINK ${tree}/${file})
      file(MD5 ${tree}/${file} sum)
      string(APPEND sums "${sum}  ${file}\n")
    endif()
  endforeach()
  file(WRITE ${tree}/DEBIAN/md5sums "${sums}")
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.d?deb$")
    continue()
  endif()
  set(tree ${package}.finish)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)

  file(READ ${tree}/DEBIAN/control control)
  if(NOT control MATCHES "(^|\n)Multi-Arch:")
    string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*)" "\\1\\2\nMulti-Arch: same" control "${control}")
    file(WRITE ${tree}/DEBIAN/control "${control}")
  endif()

  if(EXISTS ${tree}/DEBIAN/triggers)
    foreach(script postinst postrm)
      if(EXISTS ${tree}/DEBIAN/${script})
        vidazohx_only_runs_ldconfig(${tree}/DEBIAN/${script} only_ldconfig)
        if(only_ldconfig)
          file(REMOVE ${tree}/DEBIAN/${script})
        endif()
      endif()
    endforeach()
  endif()

  if(control MATCHES "\nPackage-Type: ddeb" AND control MATCHES "\nPackage: ([^\n]+)-dbgsym\n")
    file(MAKE_DIRECTORY ${tree}/usr/share/doc)
    file(CREATE_LINK ${CMAKE_MATCH_1} ${tree}/usr/share/doc/${CMAKE_MATCH_1}-dbgsym SYMBOLIC)
    vidazohx_write_md5sums(${tree})
  endif()

  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
