# Linux on s390x (big-endian): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
# Needs g++-s390x-linux-gnu and qemu-user-static (or qemu-user).
set(CROSS_TRIPLET s390x-linux-gnu)
set(CROSS_PROCESSOR s390x)
set(CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
