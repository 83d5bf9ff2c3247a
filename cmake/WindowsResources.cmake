# The Windows resources of lumentrace.exe (icon, version information,
# manifest), compiled by the toolchain's resource compiler (windres). The
# version comes from project(), the one place it is set.
enable_language(RC)
set(LUMENTRACE_WINDOWS_DIR ${PROJECT_SOURCE_DIR}/packaging/windows)
set(LUMENTRACE_MANIFEST ${LUMENTRACE_WINDOWS_DIR}/lumentrace.exe.manifest)
configure_file(${LUMENTRACE_WINDOWS_DIR}/lumentrace.rc.in ${PROJECT_BINARY_DIR}/lumentrace.rc @ONLY)
target_sources(lumentrace PRIVATE
  ${PROJECT_BINARY_DIR}/lumentrace.rc)
# windres does not see the icon and manifest it embeds as dependencies.
set_source_files_properties(${PROJECT_BINARY_DIR}/lumentrace.rc PROPERTIES
  OBJECT_DEPENDS "${LUMENTRACE_WINDOWS_DIR}/lumentrace.ico;${LUMENTRACE_MANIFEST}")
