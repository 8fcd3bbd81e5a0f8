# Every Windows test program runs under Wine, in a prefix and on an Xvfb display that belong to
# this build tree's test run. The fixture "wine" creates both before the first test and removes
# them after the last one (tests/wine/up.sh, tests/wine/down.sh).

set(QUORVAN_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(QUORVAN_WINE_RUN ${CMAKE_SOURCE_DIR}/tests/wine/run.sh ${QUORVAN_WINE_STATE})

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_test(NAME wine.up COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/up.sh ${QUORVAN_WINE_STATE})
add_test(NAME wine.down COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/down.sh ${QUORVAN_WINE_STATE})
set_tests_properties(wine.up PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine.down PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120)

# quorvan_wine_test(NAME COMMAND prog [args...] [FIXTURES f...] [TIMEOUT s])
# Runs a Windows program under the test prefix. Extra FIXTURES (for example a registered
# software key) are required on top of "wine".
function(quorvan_wine_test name)
    cmake_parse_arguments(A "" "TIMEOUT" "COMMAND;FIXTURES" ${ARGN})
    if(NOT A_TIMEOUT)
        set(A_TIMEOUT 600)
    endif()
    add_test(NAME ${name} COMMAND ${QUORVAN_WINE_RUN} ${A_COMMAND})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "wine;${A_FIXTURES}" TIMEOUT ${A_TIMEOUT})
endfunction()

# quorvan_gtest(TARGET SOURCES s... [LIBS l...] [FIXTURES f...] [ARGS a...])
# A GoogleTest program, cross-built, registered as one test that runs under Wine.
function(quorvan_gtest target)
    cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;FIXTURES;ARGS" ${ARGN})
    add_executable(${target} ${A_SOURCES})
    target_link_libraries(${target} PRIVATE GTest::gtest_main ${A_LIBS})
    set(timeout_arg)
    if(A_TIMEOUT)
        set(timeout_arg TIMEOUT ${A_TIMEOUT})
    endif()
    quorvan_wine_test(${target} COMMAND $<TARGET_FILE:${target}> ${A_ARGS}
                      FIXTURES ${A_FIXTURES} ${timeout_arg})
endfunction()

# quorvan_check_binary(TARGET [EXPORT...]): a host-side check (label "host", no Wine) that the
# binary needs no MinGW runtime DLL and exports the given names undecorated. It runs for the
# i686 build even where Wine cannot run 32-bit programs.
function(quorvan_check_binary target)
    add_test(NAME ${target}.binary
             COMMAND ${CMAKE_SOURCE_DIR}/tests/check_binary.sh ${QUORVAN_TRIPLE}-objdump
                     $<TARGET_FILE:${target}> ${ARGN})
    set_tests_properties(${target}.binary PROPERTIES LABELS host)
endfunction()
