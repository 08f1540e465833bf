# 64-bit Windows build of the same sources.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KORVANE_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
