# What the Debian multiarch cross builds share; the including file sets
# ZRV_TARGET_TRIPLET and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ZRV_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZRV_TARGET_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZRV_TARGET_TRIPLET})

# Libraries and headers of the target come from the multiarch folders; the
# programs that run during the build (moc, uic, rcc) are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/lib/${ZRV_TARGET_TRIPLET} /usr/${ZRV_TARGET_TRIPLET})
set(CMAKE_PREFIX_PATH /usr/lib/${ZRV_TARGET_TRIPLET}/cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ZRV_TARGET_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
