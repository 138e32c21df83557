#!/bin/sh
# Builds the fuzz targets (clang's libFuzzer with ASan and UBSan, the `fuzz`
# presets) and runs each over its seed corpus for 30 seconds.  Fails on
# any crash, hang or sanitizer report.
set -eu
cd "$(dirname "$0")/.."
cmake --workflow --preset fuzz
