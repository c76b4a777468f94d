#!/bin/sh
# The sensor detail screen's and the settings screen's CPU share while Kelvara
# Helper polls at 2 s, and the detail screen's resident memory over hours of
# ticks on a compressed clock, each run in a home and on a session bus of its own.
#   bench/detail-cost.sh [build folder] [seconds of CPU measurement] [hours of ticks]
set -eu
build=$(cd "${1:-build}" && pwd)
seconds=${2:-120}
hours=${3:-3}
bench="$build/bench/kelvara_detail_bench"
for run in "cpu $seconds" "settings $seconds" "memory $hours"; do
    home=$(mktemp -d)
    mkdir -m 700 "$home/run"
    # shellcheck disable=SC2086
    HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen dbus-run-session -- "$bench" $run
    rm -rf "$home"
done
