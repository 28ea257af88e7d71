#!/usr/bin/env bash
# Sets up the machine (only what the build needs), builds pelkat-emu and runs the tool
# against a freshly plugged emulated adapter whose virtual cartridge holds the built-in
# demonstration save: a whole read run, firmware download included. The files land in
# ./demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target pelkat-emu
mkdir -p demo
cd demo
exec ../build/bin/pelkat-emu "$@"
