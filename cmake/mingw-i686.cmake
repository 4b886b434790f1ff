# Windows i686 build with MinGW-w64:
#   cmake -S . -B build-win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
