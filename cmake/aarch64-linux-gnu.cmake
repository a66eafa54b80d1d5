# Cross build for arm64 Linux with Debian's cross compilers and multiarch libraries:
#   apt-get install crossbuild-essential-arm64 qemu-user
#   dpkg --add-architecture arm64 && apt-get update && apt-get install --no-remove libxml2-dev:arm64
# Target programs run through qemu-aarch64, so ctest and test discovery work without binfmt handlers.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# With the target's multiarch libc installed, qemu finds its loader without -L.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
# Only the target's pkg-config files, or libxml2 would be found for the build machine.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
