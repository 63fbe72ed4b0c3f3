# Objective-C++ on Linux for the Apple platform sources (CORVANE_APPLE_ON_LINUX): clang
# with GNUstep's Foundation over GCC's Objective-C runtime and the blocks runtime.
#
# That runtime has no ARC and no objc_msgSend, and its blocks are not Objective-C
# objects, so the Apple sources use manual retain/release, message syntax and
# Block_copy/Block_release on both platforms. Everything Apple-only that GNUstep lacks
# is declared in tests/support/apple_sdk_linux.
#
# Defines corvane::gnustep: the include paths, the Objective-C++ compile flags and the
# libraries, for targets with .mm sources.
enable_language(OBJCXX)
if(NOT CMAKE_OBJCXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "CORVANE_APPLE_ON_LINUX needs clang for Objective-C++ (CC=clang CXX=clang++)")
endif()

find_path(GNUSTEP_INCLUDE_DIR Foundation/Foundation.h PATHS /usr/include/GNUstep
  DOC "GNUstep's Foundation headers (Debian libgnustep-base-dev)" REQUIRED)
find_library(GNUSTEP_BASE_LIBRARY gnustep-base REQUIRED)
find_library(BLOCKS_RUNTIME_LIBRARY BlocksRuntime DOC "Debian libblocksruntime-dev" REQUIRED)
# GCC's Objective-C runtime keeps its headers (objc/objc.h) and its link library in
# GCC's own directory.
execute_process(COMMAND gcc -print-file-name=include OUTPUT_VARIABLE GCC_OBJC_INCLUDE_DIR
  OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND gcc -print-file-name=libobjc.so OUTPUT_VARIABLE OBJC_LIBRARY
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${GCC_OBJC_INCLUDE_DIR}/objc/objc.h" OR NOT EXISTS "${OBJC_LIBRARY}")
  message(FATAL_ERROR "GCC's Objective-C runtime not found (Debian libobjc-12-dev, pulled in by libgnustep-base-dev)")
endif()

add_library(corvane_gnustep INTERFACE)
add_library(corvane::gnustep ALIAS corvane_gnustep)
# The SDK declaration folder comes first: its objc/blocks_runtime.h answers GNUstep's
# include. GCC's directory is searched last, so that only its objc/ headers are taken
# from it and clang keeps its own stddef.h and friends.
target_include_directories(corvane_gnustep SYSTEM INTERFACE
  "${PROJECT_SOURCE_DIR}/tests/support/apple_sdk_linux"
  "${GNUSTEP_INCLUDE_DIR}")
target_compile_options(corvane_gnustep INTERFACE
  "-idirafter" "${GCC_OBJC_INCLUDE_DIR}"
  "$<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-runtime=gcc;-fconstant-string-class=NSConstantString;-fblocks;-fobjc-exceptions>"
  "$<$<COMPILE_LANGUAGE:CXX>:-fblocks>")
# The blocks runtime comes first: GNUstep's Foundation carries a _Block_copy and
# _Block_release of its own that mishandle blocks capturing C++ objects (measured: the
# release of such a copy crashes), and the first library named is the one whose
# definitions the program and the images it opens bind to.
target_link_libraries(corvane_gnustep INTERFACE "${BLOCKS_RUNTIME_LIBRARY}" "${GNUSTEP_BASE_LIBRARY}" "${OBJC_LIBRARY}")
