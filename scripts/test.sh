#!/usr/bin/env bash
# Builds Kelvara and runs every test, headless, on a private session bus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir="${KELVARA_BUILD_DIR:-build}"
export QT_QPA_PLATFORM=offscreen
exec dbus-run-session -- ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)" --timeout 120
