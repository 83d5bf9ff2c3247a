# cmake -DLICENSE_FILE=... -DOUTPUT=... -DCONTACT=... -P WriteCopyright.cmake
# Writes the licence as a machine-readable Debian copyright file, so that the
# package carries the same text as LICENSE.
file(STRINGS "${LICENSE_FILE}" lines)
set(holder "")
set(body "")
set(in_body FALSE)
foreach(line IN LISTS lines)
  if(NOT in_body)
    if(line MATCHES "^Copyright \\(c\\) (.+)$")
      set(holder "${CMAKE_MATCH_1}")
      set(in_body TRUE)
    endif()
    continue()
  endif()
  # A paragraph's lines start with a space; an empty line is a lone '.'.
  if(line STREQUAL "")
    if(NOT body STREQUAL "")
      string(APPEND body " .\n")
    endif()
  else()
    string(APPEND body " ${line}\n")
  endif()
endforeach()
if(holder STREQUAL "" OR body STREQUAL "")
  message(FATAL_ERROR "${LICENSE_FILE}: no 'Copyright (c) ...' line followed by the licence text")
endif()

file(WRITE "${OUTPUT}"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: lumentrace\n"
  "Upstream-Contact: ${CONTACT}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${holder}\n"
  "License: Expat\n"
  "${body}")
