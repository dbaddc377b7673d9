# Cross build for the device's 32-bit ARM hard-float Linux board with Debian's
# cross compiler (crossbuild-essential-armhf) and Debian's multiarch armhf
# packages of Qt 5 and Boost. The host's moc, uic and rcc generate the code,
# as Debian's armhf Qt configuration names them.
set(ZRV_TARGET_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-multiarch.cmake)
