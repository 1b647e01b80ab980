# Cross-build of the same sources for 64-bit Windows. A test build only: it
# runs the Windows tests under 64-bit Wine on machines that cannot execute
# 32-bit code. The product is the 32-bit build of mingw-i686.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVRIN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
