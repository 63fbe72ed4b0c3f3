# Settings shared by the Apple builds (macOS and the iOS Simulator).
#
# Objective-C and Objective-C++ keep their objects with manual retain/release, so that the
# same sources also build against GNUstep on Linux, whose runtime has no ARC.
set(CMAKE_OBJC_STANDARD 11)
set(CMAKE_OBJCXX_STANDARD 20)
set(CMAKE_OBJCXX_STANDARD_REQUIRED ON)
set(CMAKE_OBJCXX_EXTENSIONS OFF)
add_compile_options($<$<COMPILE_LANGUAGE:OBJC,OBJCXX>:-fno-objc-arc>)

# corvane_apple_frameworks: the macOS frameworks the Apple platforms call, and the
# Objective-C runtime (libobjc) that the Objective-C++ sources need, linked by name so
# that the link does not depend on a framework re-exporting it. Linked by the bridge and
# by any target that links an Apple platform library.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "iOS")
  add_library(corvane_apple_frameworks INTERFACE)
  target_link_libraries(corvane_apple_frameworks INTERFACE
    "-framework CoreFoundation" "-framework Foundation" "-framework AppKit" "-framework IOSurface"
    "-framework CoreMedia" "-framework CoreVideo" "-framework VideoToolbox" objc)
endif()

# Code signing. Both programs carry the same entitlements (corvane-sim.entitlements
# beside this file). The default signs ad hoc, which runs only on the Mac that built it;
# give a signing identity (its name or hash, as `security find-identity -p codesigning`
# lists it) to sign for others. With an identity the signature carries a secure
# timestamp from Apple's server, which notarization requires (and which needs the
# network at build time); an ad hoc signature can carry none.
set(CORVANE_CODESIGN_IDENTITY "-" CACHE STRING "Identity that signs the programs ('-' signs ad hoc)")
set(CORVANE_ENTITLEMENTS "${CMAKE_CURRENT_LIST_DIR}/corvane-sim.entitlements")
find_program(CORVANE_CODESIGN codesign REQUIRED)

# corvane_codesign(TARGET): signs the target's file after every link, replacing the
# linker's own ad hoc signature. macOS programs get the hardened runtime, whose
# exceptions the entitlements grant; the iOS Simulator has no hardened runtime.
function(corvane_codesign target)
  set(options --force --sign "${CORVANE_CODESIGN_IDENTITY}" --entitlements "${CORVANE_ENTITLEMENTS}")
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "iOS")
    list(APPEND options --options runtime)
  endif()
  if(NOT CORVANE_CODESIGN_IDENTITY STREQUAL "-")
    list(APPEND options --timestamp)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CORVANE_CODESIGN}" ${options} "$<TARGET_FILE:${target}>"
    COMMENT "Signing ${target} (identity ${CORVANE_CODESIGN_IDENTITY})"
    VERBATIM)
endfunction()
