#!/usr/bin/env bash
# Builds Tagloom and runs it on the demo pair: a raw file IMG_0001.CR2 and the camera's IMG_0001.JPG.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tagloom tagloom_make_files >/dev/null
rm -rf build/demo
./build/tests/tagloom_make_files demo build/demo
set -x
./build/tagloom -x -u build/demo build/demo   # preview: what the next command will change
./build/tagloom -u build/demo build/demo   # copy the raw file's tags into the JPEG
./build/tagloom -x -u build/demo build/demo   # nothing left to change
set +x
exiftool -a -G1 -s -IFD0:all -ExifIFD:all -GPS:all -MakerNotes:all build/demo/IMG_0001.JPG
