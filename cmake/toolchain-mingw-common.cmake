# What both mingw-w64 toolchains share; the including file sets CMAKE_SYSTEM_PROCESSOR and
# KORVANE_TRIPLE first. The -posix compilers: GoogleTest needs std::mutex and std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KORVANE_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_TRIPLE}-windres)
set(KORVANE_WIDL ${KORVANE_TRIPLE}-widl)
set(KORVANE_OBJDUMP ${KORVANE_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
