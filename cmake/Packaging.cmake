# What is installed besides the program, and the Debian package made of it
# (`cpack -G DEB` in the build folder).
#
# The documents are made at build time, so that a plain `cmake --install` puts
# the same files in place as the package: the manual page and the Debian
# changelog gzip-compressed (-n: no name or time stamp, so the bytes depend on
# the text alone), and LICENSE as a machine-readable copyright file.
set(LUMENTRACE_CONTACT "Lumentrace maintainers <maintainers@lumentrace.example.org>")
set(LUMENTRACE_DEB_RELEASE 1)
set(docs ${PROJECT_BINARY_DIR}/docs)

add_custom_command(
  OUTPUT ${docs}/copyright
  COMMAND ${CMAKE_COMMAND} -DLICENSE_FILE=${PROJECT_SOURCE_DIR}/LICENSE
          -DOUTPUT=${docs}/copyright "-DCONTACT=${LUMENTRACE_CONTACT}"
          -P ${PROJECT_SOURCE_DIR}/cmake/WriteCopyright.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/WriteCopyright.cmake
  VERBATIM)
set(doc_outputs ${docs}/copyright)
install(FILES ${docs}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Compresses SOURCE (relative to the source tree) into docs/NAME.gz.
function(lumentrace_gzip source name)
  add_custom_command(
    OUTPUT ${docs}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${docs}/${name}
    COMMAND ${LUMENTRACE_GZIP} -9nf ${docs}/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source}
    VERBATIM)
endfunction()

find_program(LUMENTRACE_GZIP gzip)
if(LUMENTRACE_GZIP)
  lumentrace_gzip(doc/lumentrace.1 lumentrace.1)
  lumentrace_gzip(packaging/changelog.Debian changelog.Debian)
  list(APPEND doc_outputs ${docs}/lumentrace.1.gz ${docs}/changelog.Debian.gz)
  install(FILES ${docs}/lumentrace.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${docs}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  message(STATUS "gzip not found: the manual page is installed uncompressed, "
                 "the Debian changelog not at all")
  install(FILES ${PROJECT_SOURCE_DIR}/doc/lumentrace.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
add_custom_target(lumentrace_docs ALL DEPENDS ${doc_outputs})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME lumentrace)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumentrace)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converts SAMI subtitle files into SubRip files")
# The paragraph under the summary line, wrapped as it is to be shown.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Lumentrace converts SAMI subtitles (.smi) into SubRip subtitles (.srt).\n"
  "Given files, it converts each one; run with no arguments, it converts\n"
  "every .smi file in the current folder and below, writing a .srt beside\n"
  "each. Inputs may be UTF-16LE, UTF-8 or the Windows code page of the\n"
  "user's locale (such as CP949 for Korean); outputs are UTF-16LE with a\n"
  "byte-order mark and CR LF line ends.")
set(CPACK_PACKAGE_CONTACT "${LUMENTRACE_CONTACT}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMENTRACE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LUMENTRACE_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://lumentrace.example.org")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackageChecks.cmake)
include(CPack)
