#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on the offscreen platform.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh

varnel_ensure_packages
varnel_build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2
