# Cross-compiles the 64-bit build of the same sources, which Wine runs here.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VK_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
