# Hardening for ELF builds on Linux: stack protector, position-independent
# executable, full RELRO with immediate binding, and fortified libc calls in
# optimised builds. Windows and WebAssembly builds take none of these flags.
# Each flag is used only when the compiler and linker accept it.
if(NOT LUMENTRACE_HARDEN OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckPIESupported)

# Must come before the targets are made, which pick the setting up.
check_pie_supported(LANGUAGES CXX)
if(CMAKE_CXX_LINK_PIE_SUPPORTED)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()

check_cxx_compiler_flag(-fstack-protector-strong LUMENTRACE_HAVE_STACK_PROTECTOR)
if(LUMENTRACE_HAVE_STACK_PROTECTOR)
  add_compile_options(-fstack-protector-strong)
endif()

set(CMAKE_REQUIRED_LINK_OPTIONS -Wl,-z,relro -Wl,-z,now)
check_cxx_source_compiles("int main() { return 0; }" LUMENTRACE_HAVE_RELRO_NOW)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(LUMENTRACE_HAVE_RELRO_NOW)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

# _FORTIFY_SOURCE does nothing without optimisation (and glibc warns about it),
# and it hides faults from AddressSanitizer, which checks the same calls itself.
# Undefined first, so that a value the compiler or CXXFLAGS bring is replaced
# rather than redefined.
if(NOT LUMENTRACE_SANITIZE)
  set(optimised "$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>")
  add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE>" "$<${optimised}:-D_FORTIFY_SOURCE=2>")
endif()
