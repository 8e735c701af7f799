# Helpers that every plug-in folder calls. A plug-in is built from an object
# library, so that the same objects make the shared library the program loads
# and, with DRAVIK_FUZZ, the fuzz target that calls its exports directly.

# dravik_add_plugin(NAME KIND input|output SOURCES ... [LIBS ...] [OUTPUT_DIR dir])
function(dravik_add_plugin name)
  cmake_parse_arguments(P "" "KIND;OUTPUT_DIR" "SOURCES;LIBS;DEFINITIONS" ${ARGN})
  if(P_KIND STREQUAL "input")
    set(suffix ".dvr")
    set(fuzz_driver ${CMAKE_SOURCE_DIR}/fuzz/input_plugin_fuzzer.cpp)
  elseif(P_KIND STREQUAL "output")
    set(suffix ".dvw")
    set(fuzz_driver ${CMAKE_SOURCE_DIR}/fuzz/output_plugin_fuzzer.cpp)
  else()
    message(FATAL_ERROR "dravik_add_plugin(${name}): KIND must be input or output")
  endif()
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR ${DRAVIK_PROGRAM_DIR})
  endif()

  add_library(${name}_objects OBJECT ${P_SOURCES})
  target_link_libraries(${name}_objects PUBLIC dravik_common ${P_LIBS})
  target_compile_definitions(${name}_objects PRIVATE ${P_DEFINITIONS})

  add_library(${name} MODULE $<TARGET_OBJECTS:${name}_objects>)
  target_link_libraries(${name} PRIVATE dravik_common ${P_LIBS})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ${suffix}
    LIBRARY_OUTPUT_DIRECTORY ${P_OUTPUT_DIR})
  if(NOT DRAVIK_SANITIZE AND NOT DRAVIK_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  add_dependencies(dravik_all_plugins ${name})
  if(P_OUTPUT_DIR STREQUAL DRAVIK_PROGRAM_DIR)
    install(TARGETS ${name} LIBRARY DESTINATION ${DRAVIK_INSTALL_DIR})
  endif()

  if(DRAVIK_FUZZ AND P_OUTPUT_DIR STREQUAL DRAVIK_PROGRAM_DIR)
    add_executable(${name}_fuzzer ${fuzz_driver} $<TARGET_OBJECTS:${name}_objects>)
    target_link_libraries(${name}_fuzzer PRIVATE dravik_fuzz_support ${P_LIBS})
    target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name}_fuzzer PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endif()
endfunction()

# dravik_add_test(NAME SOURCES ... [LIBS ...]): a GoogleTest executable run by
# CTest. It may load any plug-in of the program folder through the harness.
function(dravik_add_test name)
  if(NOT DRAVIK_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE dravik_test_support ${T_LIBS} GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(${name} dravik_all_plugins)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()

# dravik_install_program(TARGET): an executable of the program folder, with a
# link to it in bin/.
function(dravik_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${DRAVIK_INSTALL_DIR})
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(CREATE_LINK ../${DRAVIK_INSTALL_DIR}/${target}
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${target}\" SYMBOLIC)")
endfunction()
