#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on the offscreen platform: the
# fuzz targets for a bounded time, the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the suite as shipped, and the installed program and its
# Debian package (packaging/check.sh).
#
# VARNEL_FUZZ_SECONDS sets each fuzz target's time (default 30); VARNEL_QUICK=1 runs the
# plain suite only.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh

# Neovim: a real editor's language client drives `varnel lsp` (tests/neovim_lsp.sh); Xvfb
# and Openbox: a real window manager frames the window (tests/window_manager.sh).
varnel_ensure_packages clang libclang-rt-14-dev lld neovim xvfb openbox x11-utils
export QT_QPA_PLATFORM=offscreen

varnel_build build
if [ "${VARNEL_QUICK:-0}" != 1 ]; then
    CXX=clang++ varnel_build build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVARNEL_SANITIZE=ON -DVARNEL_FUZZ=ON

    fuzz_seconds=${VARNEL_FUZZ_SECONDS:-30}
    for target in build-sanitize/bin/fuzz_*; do
        name=${target##*/fuzz_}
        found=$(mktemp -d)
        echo "Fuzzing $name for ${fuzz_seconds}s"
        if ! "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
            -artifact_prefix="build-sanitize/fuzz-$name-" "$found" "tests/fuzz/corpus/$name" \
            >"build-sanitize/fuzz-$name.log" 2>&1; then
            tail -n 40 "build-sanitize/fuzz-$name.log"
            echo "Fuzz target $name found a fault; the input is in build-sanitize/fuzz-$name-*" >&2
            rm -rf "$found"
            exit 1
        fi
        grep -E '^stat::number_of_executed_units' "build-sanitize/fuzz-$name.log" || true
        rm -rf "$found"
    done

    echo "The suite under AddressSanitizer and UndefinedBehaviorSanitizer"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir build-sanitize --output-on-failure -j2
fi
ctest --test-dir build --output-on-failure -j2
packaging/check.sh build
