# GoogleTest from the distribution's source, built with whatever toolchain
# this build uses (native or mingw).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

set(ZRN_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(ZRN_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run --prefix ${ZRN_WINE_PREFIX})

# Both Windows builds run their tests under Wine: win64 on this machine,
# win32 in the test VM (scripts/testvm), whose Wine runs 32-bit programs in
# WoW64 mode. Each build has a prefix of its own.
if(WIN32)
  set(ZRN_WINE_TESTS ON)
  # The regsvr32 of the build's own bitness: a 32-bit server registers into
  # the 32-bit registry view, as on a 64-bit till.
  if(ZRN_ARCH STREQUAL "win32")
    set(ZRN_REGSVR32 "C:\\windows\\syswow64\\regsvr32.exe")
  else()
    set(ZRN_REGSVR32 regsvr32)
  endif()
else()
  set(ZRN_WINE_TESTS OFF)
endif()

# Time limits of the Wine tests, in seconds. The test VM emulates its
# processor, and the win32 programs run there several times slower.
if(ZRN_ARCH STREQUAL "win32")
  set(ZRN_TIME_FACTOR 4)
else()
  set(ZRN_TIME_FACTOR 1)
endif()
foreach(t 120 300 600 1500)
  math(EXPR ZRN_T${t} "${t} * ${ZRN_TIME_FACTOR}")
endforeach()

if(ZRN_WINE_TESTS)
  # Every wine call goes through the wrapper, which owns the private prefix.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZRN_WINE_RUN})
  add_test(NAME wine_prefix_setup COMMAND ${ZRN_WINE_RUN} --setup)
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine)
  add_test(NAME wine_server_stop COMMAND ${ZRN_WINE_RUN} --stop)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

include(GoogleTest)

# zrn_add_test(name SOURCES ... LIBS ...)
# host: every test case is its own CTest test. win64 and win32: one CTest
# test per program, run under Wine (a wine start per case would dominate).
function(zrn_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(ZRN_ARCH STREQUAL "host")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${T_PROPERTIES})
  elseif(ZRN_WINE_TESTS)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${ZRN_T300} ${T_PROPERTIES})
  endif()
endfunction()

# A Wine test of the registered Service Object that runs on the 64-bit build
# only: under the emulated 32-bit VM it would take most of the run, and the
# 64-bit build runs the same code. The other build lists it as skipped.
function(zrn_win64_only_test name locks timeout why)
  if(ZRN_ARCH STREQUAL "win64")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "wine;so_registered"
      RESOURCE_LOCK "${locks}" TIMEOUT ${timeout})
  elseif(ZRN_WINE_TESTS)
    set_tests_properties(${name} PROPERTIES DISABLED TRUE)
    add_test(NAME ${name}_skipped
      COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${why} (emulated VM)")
    set_tests_properties(${name}_skipped PROPERTIES SKIP_REGULAR_EXPRESSION "skipped:")
  endif()
endfunction()

# zrn_hid_cases(name FIXTURES f... LOCKS l...)
# The cases of test program `name` named *OnHidDrawer* need a HID drawer of
# the test VM (tests/hid/hid_drawer.py makes it on /dev/uhid): they run as
# the CTest test name_hid, under the drawer program, with the label hid;
# the program's own test leaves them out. ./run test runs the label for both
# builds in the VM (the win64 test preset leaves it out, win64-hid runs it).
function(zrn_hid_cases name)
  cmake_parse_arguments(H "" "" "FIXTURES;LOCKS" ${ARGN})
  if(NOT ZRN_WINE_TESTS)
    return()
  endif()
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-*OnHidDrawer*")
  add_test(NAME ${name}_hid
    COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/hid/hid_drawer.py
            -- ${ZRN_WINE_RUN} -- $<TARGET_FILE:${name}> --gtest_filter=*OnHidDrawer*)
  set_tests_properties(${name}_hid PROPERTIES LABELS hid FIXTURES_REQUIRED "wine;${H_FIXTURES}"
    RESOURCE_LOCK "hid_drawer;${H_LOCKS}" TIMEOUT ${ZRN_T600})
endfunction()
