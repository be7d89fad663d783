# The platform jx is written for: Linux with glibc 2.28 or later (or a C library with the same
# calls). Configuring stops here, with the missing call named, anywhere else.
include(CheckCXXSymbolExists)

foreach(call_and_header "renameat2;stdio.h" "explicit_bzero;string.h" "getentropy;unistd.h")
  list(GET call_and_header 0 call)
  list(GET call_and_header 1 header)
  string(TOUPPER "JX_HAVE_${call}" found)
  check_cxx_symbol_exists(${call} ${header} ${found})
  if(NOT ${found})
    message(FATAL_ERROR "jx needs ${call}() from <${header}>, which this C library lacks. "
      "jx builds on Linux with glibc 2.28 or later.")
  endif()
endforeach()
