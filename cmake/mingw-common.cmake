# Debian's mingw-w64 cross compilers, posix thread model (needed by
# GoogleTest's std::mutex); libwinpthread, libgcc and libstdc++ are linked
# statically into every binary.
set(CMAKE_C_COMPILER ${QB_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QB_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QB_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QB_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
