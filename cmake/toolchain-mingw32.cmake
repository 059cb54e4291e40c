# Cross-compile for 32-bit Windows (x86) with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
