#!/usr/bin/env bash
# Builds the project for an ARM target and runs its tests through qemu-user:
#   tools/cross-test.sh arm64     (64-bit ARM, aarch64-linux-gnu)
#   tools/cross-test.sh armhf     (32-bit ARM, arm-linux-gnueabihf)
# With --install it first installs the cross compiler, qemu-user and the target's libxml2.
# Every test runs, the end-to-end and terminal ones too: they start the example through qemu.
set -euo pipefail
cd "$(dirname "$0")/.."

install=0
if [ "${1:-}" = "--install" ]; then install=1; shift; fi
arch="${1:?usage: tools/cross-test.sh [--install] arm64|armhf}"
case "$arch" in
  arm64) triplet=aarch64-linux-gnu ;;
  armhf) triplet=arm-linux-gnueabihf ;;
  *) echo "unknown architecture: $arch" >&2; exit 2 ;;
esac

if [ "$install" = 1 ]; then
  native=$(dpkg --print-architecture)
  if ! dpkg -s "crossbuild-essential-$arch" "libxml2-dev:$arch" "qemu-user:$native" >/dev/null 2>&1; then
    dpkg --add-architecture "$arch"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends --no-remove \
      "crossbuild-essential-$arch" qemu-user "libxml2-dev:$arch"
  fi
fi

build="build-$arch"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$triplet.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUENO_WARNINGS_AS_ERRORS=ON -DQUENO_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j2
ctest --test-dir "$build" --timeout 300 -j2 --output-on-failure
