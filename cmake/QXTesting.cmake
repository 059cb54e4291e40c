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

# qx_add_gtest(<name> SOURCES ... [LIBS ...] [SESSION] [TIMEOUT s])
#   One executable per area; SESSION marks tests that start daemons or the terminal simulator: they take the
#   Wine session lock, since one daemon (and one terminal) runs per session.
function(qx_add_gtest name)
    cmake_parse_arguments(A "SESSION" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${A_SOURCES})
    target_link_libraries(${name} PRIVATE ${A_LIBS} qx_testsupport GTest::gmock GTest::gtest_main)
    # GCC 12 reports -Wrestrict wrongly on string concatenations (GCC bug 105329).
    target_compile_options(${name} PRIVATE -Wno-missing-field-initializers -Wno-restrict)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE OFF)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    if(NOT A_TIMEOUT)
        set(A_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT})
    if(A_SESSION)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_session)
    endif()
endfunction()
