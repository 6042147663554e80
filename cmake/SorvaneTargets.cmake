# One static library per source folder. Sources are picked up by glob (re-checked at
# build time) so that adding a file to a layer never means editing a shared list.
#
# PURE marks a layer of plain logic: it and everything it links stay free of Qt, which
# the layering check (scripts/check_layers.py) verifies together with the direction of
# every include between folders.
function(sorvane_layer_library name)
  cmake_parse_arguments(ARG "PURE" "" "PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  set(_pure 0)
  if(ARG_PURE)
    set(_pure 1)
  endif()
  list(JOIN ARG_PUBLIC_DEPS "," _public)
  list(JOIN ARG_PRIVATE_DEPS "," _private)
  set_property(GLOBAL APPEND PROPERTY SORVANE_LAYER_TABLE "${_folder}\t${name}\t${_pure}\t${_public}\t${_private}")
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    # A layer whose first sources have not landed yet: headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${_sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# One GoogleTest executable per test folder.
function(sorvane_test_suite name)
  cmake_parse_arguments(ARG "" "" "DEPS;ENV" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    return()
  endif()
  add_executable(${name} ${_sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} sorvane_test_support GTest::gtest GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "${ARG_ENV}")
endfunction()

# Writes the table of layers (folder, target, pure, public and private dependencies) that
# the layering check reads, and runs the check on the includes once at configure time, so a
# folder that includes a folder above it fails the build before anything compiles. The
# test `layering` runs the same check with the architecture picture at test time.
function(sorvane_check_layers)
  get_property(_rows GLOBAL PROPERTY SORVANE_LAYER_TABLE)
  list(JOIN _rows "\n" _text)
  set(_table ${PROJECT_BINARY_DIR}/sorvane_layers.tsv)
  file(WRITE ${_table} "${_text}\n")
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/check_layers.py --layers ${_table}
            --src ${PROJECT_SOURCE_DIR}/src
    RESULT_VARIABLE _status OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "layering check failed:\n${_out}")
  endif()
endfunction()
