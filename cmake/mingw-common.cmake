# The "-posix" flavour of MinGW-w64 gives std::thread and std::mutex; the static link flags
# (see the top CMakeLists) keep winpthread and the C++ runtime inside each binary.
set(CMAKE_C_COMPILER ${QUORVAN_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVAN_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVAN_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVAN_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
