# 32-bit Windows: the shipping build.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KORVANE_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
