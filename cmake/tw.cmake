# Build helpers shared by every room of the tree.

# tw_plugin(name SOURCES...): a plug-in module <name>.twx in the installation directory.
function(tw_plugin name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".twx"
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  install(TARGETS ${name} LIBRARY DESTINATION .)
endfunction()

# tw_test(name SOURCES... [LIBS libs...] [COST n]): one GoogleTest executable registered
# with CTest. Tests find the build in TW_BUILD_DIR and the installation directory in its
# "inst". COST marks an executable whose tests run for minutes (clusters of processes): a
# parallel ctest starts those first, so that they do not leave a long tail on a fresh build,
# which has no timings of an earlier run.
function(tw_test name)
  cmake_parse_arguments(T "" "COST" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set(cost)
  if(T_COST)
    set(cost COST ${T_COST})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TW_BUILD_DIR=${CMAKE_BINARY_DIR}" ${cost})
endfunction()

# tw_message_table(target table.txt symbol): compiles a catalogue text table into the
# target. The lookup of a plug-in's table stays private to that plug-in.
function(tw_message_table target table symbol)
  get_filename_component(abs ${table} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_messages.cc)
  add_custom_command(OUTPUT ${out}
    COMMAND msgcompile table ${abs} ${symbol} ${out}
    DEPENDS msgcompile ${abs}
    COMMENT "Compiling message table ${table}")
  target_sources(${target} PRIVATE ${out})
endfunction()
