#!/usr/bin/env bash
# Installs a build into a fresh prefix and uses it as a user would: builds tests/consumer against
# it once through the CMake package and once through pkg-config, runs the result and the installed
# rtd_example through the installed queno-sim, and compares the example's output with the build
# tree's.   tools/consumer-test.sh BUILD_DIR [WORK_DIR]
# For a cross build, QUENO_TOOLCHAIN_FILE names its toolchain file and QUENO_EMULATOR the program
# that runs its binaries (qemu-aarch64, ...).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: tools/consumer-test.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-$(mktemp -d)}
rm -rf "$work"; mkdir -p "$work"
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name queno-example.pc)")

expected="board 0: QUENO-1600-UNIV
board 1: QUENO-3200-HV
full scale: 10.000 V"
for way in cmake-package pkg-config cc; do
  options=(-DCMAKE_PREFIX_PATH="$prefix")
  [ "$way" = pkg-config ] && options=(-DQUENO_USE_PKG_CONFIG=ON)
  [ -n "${QUENO_TOOLCHAIN_FILE:-}" ] && options+=(-DCMAKE_TOOLCHAIN_FILE="$QUENO_TOOLCHAIN_FILE")
  if [ "$way" = cc ]; then
    # The README's one line: the compiler and pkg-config alone (native builds only).
    [ -n "${QUENO_TOOLCHAIN_FILE:-}" ] && continue
    mkdir -p "$work/cc"
    # shellcheck disable=SC2046
    cc "$source_dir/tests/consumer/list_boards.c" -o "$work/cc/list_boards" \
       $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs queno-example) -rdynamic
  else
    PKG_CONFIG_PATH="$libdir" cmake -S "$source_dir/tests/consumer" -B "$work/$way" "${options[@]}" >/dev/null
    cmake --build "$work/$way" >/dev/null
  fi
  actual=$("$prefix/bin/queno-sim" --script overflow ${QUENO_EMULATOR:-} "$work/$way/list_boards")
  if [ "$actual" != "$expected" ]; then
    echo "consumer built with $way printed:"; echo "$actual"; exit 1
  fi
  echo "consumer built with $way: ok"
done

# The installed example on the installed simulator prints what the build tree's does.
run() { "$1/queno-sim" --script 25,5,overflow ${QUENO_EMULATOR:-} "$2/rtd_example" 0 3 2>&1; }
installed=$(run "$prefix/bin" "$prefix/bin")
built=$(run "$build/bin" "$build/bin")
if [ "$installed" != "$built" ]; then
  diff <(echo "$built") <(echo "$installed") || true
  echo "the installed rtd_example differs from the build tree's"; exit 1
fi
echo "installed rtd_example matches the build tree: ok"
