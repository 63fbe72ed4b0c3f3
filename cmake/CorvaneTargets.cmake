# Helpers that keep each folder's CMakeLists short.
#
# corvane_folder_library(NAME DEPS ...): a static library made of every .cpp in the
# calling folder (not its subfolders), with the repository root on the include path.
function(corvane_folder_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# corvane_native_architecture(TARGET): on a Mac, builds TARGET for the machine's own
# architecture only. Test programs link Homebrew's GoogleTest and FFmpeg, which hold only
# that one, while the programs themselves are universal.
function(corvane_native_architecture target)
  if(APPLE)
    set_target_properties(${target} PROPERTIES OSX_ARCHITECTURES "${CMAKE_HOST_SYSTEM_PROCESSOR}")
  endif()
endfunction()

# corvane_folder_tests([LIBS ...] [LINUX_LIBS ...] [LINUX_ONLY name ...] [MAC_ONLY name ...]
#                      [APPLE_INSTANCES name ...] [APPLE_PLATFORM] [MAY_SKIP]):
# one test executable per *_test.cpp in the calling folder, linked with LIBS, the shared
# test support library and GoogleTest, registered with CTest as "<folder>.<file name>"
# and labelled with its area, the folder below tests/ that holds it (a test of
# tests/platform/x264 is "x264.<file name>", labelled "platform").
#  - LINUX_ONLY names the tests (file names without ".cpp") that need what only a Linux
#    build has: the virtual simulator, x264, /proc or the HID stand-in. A Mac build
#    leaves them out, and LINUX_LIBS, the libraries only they need, with them.
#  - MAC_ONLY names the tests that need Apple's real frameworks; other builds leave
#    them out.
#  - APPLE_INSTANCES names parametrised tests whose instances named "apple" run against
#    the Apple simulator platform over the stand-ins. In a CORVANE_APPLE_ON_LINUX tree
#    those instances are a CTest test of their own, "<folder>.<file name>.apple",
#    labelled "apple" too; the test of the plain name runs the others.
#  - APPLE_PLATFORM: every test of the folder runs against the Apple simulator platform
#    over the stand-ins, and is labelled "apple" too.
#  - MAY_SKIP: a test program that prints a line "[ ALL SKIPPED ] <why>" counts as
#    skipped; it prints one only when every test of it skips, so a program in which some
#    tests skip and others fail still fails. Otherwise a test program that runs no test
#    fails, so that a selection that matches nothing cannot pass.
# Tests labelled "apple" are also collected in the target corvane_apple_tests.
function(corvane_folder_tests)
  cmake_parse_arguments(ARG "APPLE_PLATFORM;MAY_SKIP" "" "LIBS;LINUX_LIBS;LINUX_ONLY;MAC_ONLY;APPLE_INSTANCES" ${ARGN})
  get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  string(REPLACE "-" "_" folder_id "${folder}")
  file(RELATIVE_PATH area "${PROJECT_SOURCE_DIR}/tests" "${CMAKE_CURRENT_SOURCE_DIR}")
  string(REGEX REPLACE "/.*" "" area "${area}")
  set(libs ${ARG_LIBS})
  if(NOT APPLE)
    list(APPEND libs ${ARG_LINUX_LIBS})
  endif()
  file(GLOB tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  foreach(test_source ${tests})
    get_filename_component(test_name "${test_source}" NAME_WE)
    if((APPLE AND test_name IN_LIST ARG_LINUX_ONLY) OR (NOT APPLE AND test_name IN_LIST ARG_MAC_ONLY))
      continue()
    endif()
    set(target "${folder_id}_${test_name}")
    add_executable(${target} ${test_source})
    target_link_libraries(${target} PRIVATE ${libs} corvane_test_support GTest::gmock_main)
    corvane_native_architecture(${target})
    set(name "${folder}.${test_name}")
    set(labels ${area})
    if(ARG_APPLE_PLATFORM)
      corvane_tests_over_apple_platform(${target})
      list(APPEND labels apple)
    endif()
    if(CORVANE_APPLE_ON_LINUX AND test_name IN_LIST ARG_APPLE_INSTANCES)
      add_test(NAME "${name}" COMMAND ${target} "--gtest_filter=-*/apple")
      add_test(NAME "${name}.apple" COMMAND ${target} "--gtest_filter=*/apple")
      _corvane_test_properties("${name}.apple" "${area};apple" ${target} FALSE)
    else()
      add_test(NAME "${name}" COMMAND ${target})
    endif()
    _corvane_test_properties("${name}" "${labels}" ${target} ${ARG_MAY_SKIP})
  endforeach()
endfunction()

# The CTest properties every test gets: labels, a time limit, and what counts as a
# failure or a skip (see corvane_folder_tests). Tests labelled "apple" join the target
# corvane_apple_tests.
function(_corvane_test_properties name labels target may_skip)
  set_tests_properties("${name}" PROPERTIES LABELS "${labels}" TIMEOUT 1500)
  if(may_skip)
    set_tests_properties("${name}" PROPERTIES SKIP_REGULAR_EXPRESSION "\\[ ALL SKIPPED \\]")
  else()
    set_tests_properties("${name}" PROPERTIES FAIL_REGULAR_EXPRESSION "\\[  PASSED  \\] 0 tests")
  endif()
  if("apple" IN_LIST labels)
    if(NOT TARGET corvane_apple_tests)
      add_custom_target(corvane_apple_tests)
    endif()
    add_dependencies(corvane_apple_tests ${target})
  endif()
endfunction()
