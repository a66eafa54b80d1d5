# Cross build for armhf Linux with Debian's cross compilers and multiarch libraries:
#   apt-get install crossbuild-essential-armhf qemu-user
#   dpkg --add-architecture armhf && apt-get update && apt-get install --no-remove libxml2-dev:armhf
# Target programs run through qemu-arm, so ctest and test discovery work without binfmt handlers.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# With the target's multiarch libc installed, qemu finds its loader without -L.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
# Only the target's pkg-config files, or libxml2 would be found for the build machine.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
