# Cross build for 32-bit Windows with Debian's mingw-w64 (compile checks only:
# no 32-bit Wine runs the result here).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORLINK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
