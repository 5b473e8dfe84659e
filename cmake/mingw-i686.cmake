# Cross-compiles the 32-bit Windows program, the one that ships (linked
# statically so only Windows' own DLLs are imported).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VK_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
