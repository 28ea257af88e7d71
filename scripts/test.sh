#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the native build, the
# Windows build with its tests under wine and its ZIP package, the native suite again
# under the sanitizers, short fuzzing runs, and the Debian package and man pages
# (tests/package).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
jobs=$(nproc)
# ccache keeps repeated runs on one machine to the files that changed, for any clone of
# the project: paths below the project are hashed relative to it, and the working folder
# (which the debug information would otherwise name) not at all.
launch=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true

cmake -S . -B build "${launch[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELKAT_BUILD_TESTS=ON \
  -DPELKAT_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build -j"$jobs"
# The test bed's runs spend most of their time in the tool's real-time waits, so twice as
# many tests as cores keep both busy.
ctest --test-dir build -j"$((2 * jobs))" --output-on-failure

# Windows: the same sources cross-built into a static pelkat.exe; its unit tests and a
# few runs of pelkat.exe go through wine. Standard input is empty, so no key wait can
# block; wine's own diagnostics on standard error are harmless.
export WINEDEBUG=-all
cmake -S . -B build-windows "${launch[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DPELKAT_BUILD_TESTS=ON >/dev/null
cmake --build build-windows -j"$jobs"
ctest --test-dir build-windows --output-on-failure </dev/null
# The Windows package: CPack's ZIP of one folder with the two programs, the README, the
# WinUSB binding and the licence, and nothing else.
version=$(sed -n 's/^project(pelkat VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
(cd build-windows && cpack -G ZIP >/dev/null)
listing=$(cd build-windows && cmake -E tar tf "pelkat-$version-win64.zip" | sort | tr '\n' ' ')
folder="pelkat-$version-win64"
expected="$folder/LICENSE $folder/README.md $folder/pelkat-emu.exe $folder/pelkat.exe $folder/pelkat.inf "
[ "$listing" = "$expected" ] || { echo "Windows package holds: $listing" >&2; exit 1; }

# Sanitizers: the whole native suite again, built by gcc at -O1 with AddressSanitizer and
# UndefinedBehaviorSanitizer and line tables only (-g1: the reports name file and line);
# any report fails the test that caused it. Two warnings that need the optimiser's full
# value ranges give false alarms at -O1 under the sanitizers; the build above checks them.
cmake -S . -B build-asan "${launch[@]}" -DPELKAT_SANITIZE=ON -DPELKAT_BUILD_TESTS=ON \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DCMAKE_CXX_FLAGS="-Wno-maybe-uninitialized -Wno-format-truncation" >/dev/null
cmake --build build-asan -j"$jobs"
# Tests labelled slow take many times as long as others that run the same code, and are
# many times slower still there; the native build above runs them: runs of the FLASH parts
# of 512 KiB to 8 MiB that differ from others only by size, the fault matrix's write and
# erase cells of the 8 KiB EEPROM (the 512-byte one's host code at 16 times the bytes; its
# 16-bit addresses are checked here by the end-to-end writes and erases), and the runs of
# the Linux pelkat through the usbdevfs test bed (real-time waits, the emulated-driver
# runs' host code; the test bed itself is checked here by its request and lsusb tests).
ctest --test-dir build-asan -j"$jobs" --output-on-failure -LE slow

# Fuzzing (clang's libFuzzer): the save image loader, and command packets to the real
# firmware in the emulated adapter, each for a fixed number of executions from its seeds.
# Longer runs: bench/fuzz/run_fuzz.sh.
cmake -S . -B build-fuzz "${launch[@]}" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELKAT_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$jobs" --target image_loader firmware_packets
ctest --test-dir build-fuzz -L fuzz -j"$jobs" --output-on-failure
