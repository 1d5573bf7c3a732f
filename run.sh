#!/usr/bin/env bash
# Installs what is missing, builds a Release build and starts Varnel.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Varnel needs a desktop: no display found (DISPLAY or WAYLAND_DISPLAY is not set)." >&2
    exit 1
fi
varnel_ensure_packages
varnel_build build
exec build/bin/varnel "$@"
