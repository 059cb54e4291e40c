# Test helpers: every test program is a Windows executable run under Wine through the emulator script.

set(QX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# GoogleTest from the sources Debian ships, built with the cross compiler.
set(QX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main gmock gmock_main)
    if(TARGET ${t})
        target_compile_options(${t} PRIVATE -w)
    endif()
endforeach()

# Each test program runs under a bound of its own (tests/support/run-bounded.sh): past it, the harness prints the
# stacks of the program and of what it started, ends them and fails the test. Bounds are about 3 times the
# durations measured in a whole-suite run on 2 cores shared with other work (load average 4), 4-9 times those
# of a quiet machine; CTest's own limit only backs the watchdog up.
set(QX_TEST_BOUND_DEFAULT 60)
set(QX_TEST_BOUND_velo_com_tests 150)
set(QX_TEST_BOUND_proxy_link_tests 240)
set(QX_TEST_BOUND_client_session_tests 120)
set(QX_TEST_BOUND_chain_session_tests 300)
set(QX_TEST_BOUND_hardening_terminal_tests 180)
set(QX_TEST_BOUND_hardening_load_tests 360)
set(QX_TEST_BOUND_hardening_lifecycle_tests 240)
set(QX_TEST_BOUND_hardening_config_tests 300)
set(QX_TEST_BOUND_hardening_requests_tests 150)
set(QX_TEST_BOUND_hardening_hung_tests 300)
# Time for the stacks and the clean-up after a bound expires (each winedbg call is bounded to 60 s).
set(QX_TEST_DUMP_ALLOWANCE 300)
set(QX_RUN_BOUNDED ${CMAKE_SOURCE_DIR}/tests/support/run-bounded.sh)
# Name, bound, session flag (0/1) and working folder of every test program, for scripts/soak.sh.
set(QX_TEST_BOUNDS_FILE ${CMAKE_BINARY_DIR}/test-bounds.txt)
file(WRITE ${QX_TEST_BOUNDS_FILE} "")

# qx_add_gtest(<name> SOURCES ... [LIBS ...] [SESSION] [BOUND s] [TIMEOUT s])
#   One executable per area; SESSION marks tests that start daemons or the terminal simulator: they take the
#   Wine session lock, since one daemon (and one terminal) runs per session. BOUND: the watchdog's bound
#   (default: the table above). TIMEOUT: CTest's limit, raised to at least the bound plus the dump allowance.
function(qx_add_gtest name)
    cmake_parse_arguments(A "SESSION" "BOUND;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${A_SOURCES})
    target_link_libraries(${name} PRIVATE ${A_LIBS} qx_testsupport GTest::gmock GTest::gtest_main)
    # GCC 12 reports -Wrestrict wrongly on string concatenations (GCC bug 105329).
    target_compile_options(${name} PRIVATE -Wno-missing-field-initializers -Wno-restrict)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE OFF)
    if(NOT A_BOUND)
        if(DEFINED QX_TEST_BOUND_${name})
            set(A_BOUND ${QX_TEST_BOUND_${name}})
        else()
            set(A_BOUND ${QX_TEST_BOUND_DEFAULT})
        endif()
    endif()
    set(session_flag)
    set(session 0)
    if(A_SESSION)
        set(session_flag --session)
        set(session 1)
    endif()
    add_test(NAME ${name}
             COMMAND ${QX_RUN_BOUNDED} --bound ${A_BOUND} --runner ${CMAKE_CROSSCOMPILING_EMULATOR} ${session_flag}
                     -- $<TARGET_FILE:${name}> --gtest_color=no)
    file(APPEND ${QX_TEST_BOUNDS_FILE} "${name} ${A_BOUND} ${session} ${CMAKE_CURRENT_BINARY_DIR}\n")
    math(EXPR limit "${A_BOUND} + ${QX_TEST_DUMP_ALLOWANCE}")
    if(A_TIMEOUT AND A_TIMEOUT GREATER limit)
        set(limit ${A_TIMEOUT})
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${limit})
    if(A_SESSION)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_session)
    endif()
endfunction()
