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

# corvane_folder_tests(LIBS ...): one test executable per *_test.cpp in the calling
# folder, linked with LIBS, the shared test support library and GoogleTest, and
# registered with CTest under "<folder>.<file name>".
function(corvane_folder_tests)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  string(REPLACE "-" "_" folder_id "${folder}")
  file(GLOB tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  foreach(test_source ${tests})
    get_filename_component(test_name "${test_source}" NAME_WE)
    set(target "${folder_id}_${test_name}")
    add_executable(${target} ${test_source})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} corvane_test_support GTest::gmock_main)
    add_test(NAME "${folder}.${test_name}" COMMAND ${target})
    set_tests_properties("${folder}.${test_name}" PROPERTIES TIMEOUT 1500)
  endforeach()
endfunction()
