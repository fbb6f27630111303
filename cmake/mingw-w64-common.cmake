# Shared part of the mingw-w64 toolchain files: the caller sets
# QUORLINK_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first. The posix thread
# model gives std::thread and std::mutex; the runtime is linked statically so
# that a built program runs on a bare Windows (or Wine prefix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QUORLINK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORLINK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORLINK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORLINK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
