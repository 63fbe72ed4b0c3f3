# corvane_apple_library(NAME SOURCES ... [DEPS ...] [APPLE_DEPS ...] [FRAMEWORKS ...]):
# a library of Apple platform sources.
#  - On macOS: a static library linked with DEPS, APPLE_DEPS and the named frameworks.
#  - With CORVANE_APPLE_ON_LINUX: an OBJECT library compiled (never linked) against the
#    declarations in tests/support/apple_sdk_linux, which only this branch puts on the
#    include path. DEPS give it their include paths; APPLE_DEPS are left out there.
#  - Otherwise: nothing.
function(corvane_apple_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;APPLE_DEPS;FRAMEWORKS" ${ARGN})
  if(APPLE)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_APPLE_DEPS} Threads::Threads)
    foreach(framework ${ARG_FRAMEWORKS})
      target_link_libraries(${name} PUBLIC "-framework ${framework}")
    endforeach()
  elseif(CORVANE_APPLE_ON_LINUX)
    add_library(${name} OBJECT ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests/support/apple_sdk_linux")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()
