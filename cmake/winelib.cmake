# Winelib: code that calls Win32 is compiled and linked by wineg++ against Wine's headers,
# target by target; the rest of the tree stays plain g++. Winelib programs do not run under
# the sanitizers, so the sanitizer and fuzz builds leave them out.
#
#   tw_winelib_objects(target)  compile the target's sources with wineg++
#   tw_winelib_program(target)  link the target with Wine's start-up (<target>.exe.so)
#   tw_winelib_test(name SOURCES... LIBS...)  a GoogleTest program run under Xvfb and Wine
include_guard(GLOBAL)

find_program(TW_WINEGXX NAMES wineg++ wineg++-stable PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TW_WINEGXX NAMES wineg++ wineg++-stable)
find_program(TW_XVFB_RUN NAMES xvfb-run)
set(TW_WINELIB OFF CACHE INTERNAL "")
if(TW_WINEGXX AND TW_XVFB_RUN AND NOT TW_SANITIZE AND NOT TW_FUZZ)
  set(TW_WINELIB ON CACHE INTERNAL "")
  set(TW_WINELIB_LAUNCHER ${CMAKE_BINARY_DIR}/winelib/wine-cxx CACHE INTERNAL "")
  set(TW_WINELIB_RUN ${CMAKE_BINARY_DIR}/winelib/wine-run CACHE INTERNAL "")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-cxx.sh.in ${TW_WINELIB_LAUNCHER} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${TW_WINELIB_RUN} COPYONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
endif()

function(tw_winelib_objects target)
  set_target_properties(${target} PROPERTIES CXX_COMPILER_LAUNCHER ${TW_WINELIB_LAUNCHER})
  # The Win32 headers want their own idea of min/max and of the character types.
  target_compile_definitions(${target} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
endfunction()

function(tw_winelib_program target)
  set_target_properties(${target} PROPERTIES RULE_LAUNCH_LINK ${TW_WINELIB_LAUNCHER})
  target_compile_options(${target} PRIVATE -fPIC)
endfunction()

function(tw_winelib_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;CASES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  tw_winelib_program(${name})
  # One CTest entry per program, listing the cases would start Wine at build time; a long
  # program names its slow CASES, each then an entry of its own beside one for the rest, so
  # that they run side by side.
  set(program ${TW_WINELIB_RUN} ${CMAKE_BINARY_DIR}/tests/${name}.exe)
  if(T_CASES)
    set(entries)
    set(others)
    foreach(c ${T_CASES})
      add_test(NAME ${name}/${c} COMMAND ${program} --gtest_filter=*.${c})
      list(APPEND entries ${name}/${c})
      list(APPEND others *.${c})
    endforeach()
    list(JOIN others ":" others)
    add_test(NAME ${name}/others COMMAND ${program} --gtest_filter=-${others})
    list(APPEND entries ${name}/others)
  else()
    add_test(NAME ${name} COMMAND ${program})
    set(entries ${name})
  endif()
  # Each program takes one display of the run's (scripts/wine.sh) for itself, so that focus,
  # activation and screenshots are its own while others run on the other displays; they go
  # first, since they wait for those displays.
  set_tests_properties(${entries} PROPERTIES ENVIRONMENT "TW_BUILD_DIR=${CMAKE_BINARY_DIR}"
    LABELS winelib RESOURCE_GROUPS winedisplay:1 COST 1000)
endfunction()
