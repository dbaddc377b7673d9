# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (crossbuild-essential-arm64) and Debian's multiarch arm64 packages of Qt 5
# and Boost.
set(ZRV_TARGET_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-multiarch.cmake)
