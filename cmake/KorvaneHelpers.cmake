# Helpers shared by the subsystem folders.

# korvane_add_subsystem(<name> [LIBS <targets...>])
# Builds every .cpp/.h of the calling folder (and its subfolders) into the static
# library korvane_<name>. A folder without sources yields an interface library,
# so other targets may link it before its first source arrives.
function(korvane_add_subsystem name)
  cmake_parse_arguments(ARG "" "" "LIBS;RESOURCES" ${ARGN})
  file(GLOB_RECURSE _sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(_target korvane_${name})
  list(FILTER _sources INCLUDE REGEX "\\.cpp$")
  if(_sources)
    file(GLOB_RECURSE _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${_target} STATIC ${_sources} ${_headers} ${ARG_RESOURCES})
    target_include_directories(${_target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${_target} PUBLIC ${ARG_LIBS})
  else()
    add_library(${_target} INTERFACE)
    target_include_directories(${_target} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${_target} INTERFACE ${ARG_LIBS})
  endif()
endfunction()

# korvane_add_test(<name> SOURCES <files...> [LIBS <targets...>] LABEL <label>)
# One Qt Test executable, registered with CTest, run offscreen in the build tree.
function(korvane_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE korvane_testsupport ${ARG_LIBS} Qt5::Test)
  if(KORVANE_TEST_PCH)
    target_precompile_headers(${name} REUSE_FROM korvane_testsupport)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${ARG_LABEL}"
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KORVANE_TEST_BINARY_DIR=${CMAKE_BINARY_DIR};ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()

# korvane_add_tests_in_folder(<label> LIBS <targets...>)
# Every tst_*.cpp of the calling folder becomes its own test executable.
function(korvane_add_tests_in_folder label)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(_src ${_tests})
    get_filename_component(_name ${_src} NAME_WE)
    korvane_add_test(${_name} SOURCES ${_src} LIBS ${ARG_LIBS} LABEL ${label})
  endforeach()
endfunction()
