# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE). Without
# dpkg-shlibdeps, cpack quietly makes a Debian package with no Depends line,
# and without `file` it cannot tell which files are programs: either way the
# package would install where it cannot run. Stop instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  foreach(tool dpkg-shlibdeps file)
    find_program(LUMENTRACE_PACKAGE_TOOL_${tool} ${tool})
    if(NOT LUMENTRACE_PACKAGE_TOOL_${tool})
      message(FATAL_ERROR "${tool} is missing: the Debian package needs it "
                          "(Debian: apt-get install dpkg-dev file)")
    endif()
  endforeach()
endif()
