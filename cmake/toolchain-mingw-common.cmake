# Shared by toolchain-mingw64.cmake and toolchain-mingw32.cmake, which set QX_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR first: MinGW-w64, posix threads flavour (for std::thread/std::mutex).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${QX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QX_MINGW_PREFIX}-windres)
set(QX_WIDL            ${QX_MINGW_PREFIX}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
