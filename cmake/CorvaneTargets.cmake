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

# corvane_folder_tests(LIBS ... [LINUX_LIBS ...] [LINUX_ONLY name ...]): one test
# executable per *_test.cpp in the calling folder, linked with LIBS, the shared test
# support library and GoogleTest, and registered with CTest under "<folder>.<file name>".
# LINUX_ONLY names the tests (file names without ".cpp") that need what only a Linux
# build has: the virtual simulator, x264, /proc or the HID stand-in. A Mac build leaves
# them out, and LINUX_LIBS, the libraries only they need, with them.
function(corvane_folder_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;LINUX_LIBS;LINUX_ONLY" ${ARGN})
  get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  string(REPLACE "-" "_" folder_id "${folder}")
  set(libs ${ARG_LIBS})
  if(NOT APPLE)
    list(APPEND libs ${ARG_LINUX_LIBS})
  endif()
  file(GLOB tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  foreach(test_source ${tests})
    get_filename_component(test_name "${test_source}" NAME_WE)
    if(APPLE AND test_name IN_LIST ARG_LINUX_ONLY)
      continue()
    endif()
    set(target "${folder_id}_${test_name}")
    add_executable(${target} ${test_source})
    target_link_libraries(${target} PRIVATE ${libs} corvane_test_support GTest::gmock_main)
    corvane_native_architecture(${target})
    add_test(NAME "${folder}.${test_name}" COMMAND ${target})
    set_tests_properties("${folder}.${test_name}" PROPERTIES TIMEOUT 1500)
  endforeach()
endfunction()
