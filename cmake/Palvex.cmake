# Helpers shared by the layer and test folders.

# A layer library from every .cpp of its folder (not its sub-folders).
function(palvex_add_layer target)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(sources)
    add_library(${target} STATIC ${sources} ${headers})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  else()
    add_library(${target} INTERFACE ${headers})
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_LIBS})
  endif()
endfunction()

# One GoogleTest program per test folder, from every .cpp in it.
# Tests find the sample pictures of tests/data through PALVEX_TEST_DATA_DIR.
function(palvex_add_test_dir name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(test_${name} PRIVATE
    PALVEX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    PALVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    PALVEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(test_${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 600)
endfunction()

# A test program that runs palvex-cli as a process (with GUI, the desktop
# program as well) finds it through PALVEX_CLI_PATH (PALVEX_GUI_PATH), built
# before the test.
function(palvex_test_runs_programs target)
  cmake_parse_arguments(ARG "GUI" "" "" ${ARGN})
  add_dependencies(${target} palvex-cli)
  target_compile_definitions(${target} PRIVATE PALVEX_CLI_PATH="$<TARGET_FILE:palvex-cli>")
  if(ARG_GUI)
    add_dependencies(${target} palvex)
    target_compile_definitions(${target} PRIVATE PALVEX_GUI_PATH="$<TARGET_FILE:palvex>")
  endif()
endfunction()

# A program that saves pictures of windows for a look by eye
# (scripts/screenshots.sh); not a test.
function(palvex_add_window_shots target source)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endfunction()

# The picture libraries, each as an interface target that links the shared
# library, or its archives when the program being linked has the property
# PALVEX_STATIC_LINK. palvex-cli is linked -static: with nothing left to the
# dynamic loader it starts in 1.4 ms instead of 5, a share that counts when a
# script runs it once per photo. The desktop program keeps the shared forms,
# which Qt's own image plugins use too.
find_package(PkgConfig QUIET)
function(palvex_picture_library name shared module)
  set(archives "")
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(PALVEX_PC_${name} QUIET ${module})
    set(archives ${PALVEX_PC_${name}_STATIC_LIBRARIES})
  endif()
  if(NOT archives)
    set_property(GLOBAL PROPERTY PALVEX_STATIC_ARCHIVES_MISSING ON)
  endif()
  foreach(lib IN LISTS archives)
    if(NOT lib MATCHES "^(m|pthread|dl|rt)$")
      find_library(PALVEX_ARCHIVE_${lib} NAMES lib${lib}.a)
      if(NOT PALVEX_ARCHIVE_${lib})
        set_property(GLOBAL PROPERTY PALVEX_STATIC_ARCHIVES_MISSING ON)
      endif()
    endif()
  endforeach()
  set(is_static "$<BOOL:$<TARGET_PROPERTY:PALVEX_STATIC_LINK>>")
  set_property(TARGET ${shared} PROPERTY IMPORTED_GLOBAL TRUE)
  add_library(${name} INTERFACE)
  target_include_directories(${name} INTERFACE $<TARGET_PROPERTY:${shared},INTERFACE_INCLUDE_DIRECTORIES>)
  target_link_libraries(${name} INTERFACE "$<${is_static}:${archives}>" "$<$<NOT:${is_static}>:${shared}>")
endfunction()
