# Linux on 32-bit x86: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
# Needs g++-i686-linux-gnu and qemu-user-static (or qemu-user).
set(CROSS_TRIPLET i686-linux-gnu)
set(CROSS_PROCESSOR i686)
set(CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
