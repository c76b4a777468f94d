#!/bin/sh
# Kelvara Helper's CPU time divided by wall time while it polls at the 2 s
# interval against the virtual SMC, in a home of its own.
#   bench/helper-cpu-share.sh [build folder] [seconds]
set -eu
build=$(cd "${1:-build}" && pwd)
seconds=${2:-300}
here=$(cd "$(dirname "$0")" && pwd)
app="$build/Kelvara.app"
helper="$app/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
. "$here/cpu-share-lib.sh"
prepare_home "$app" "$home"

HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
    dbus-run-session --config-file="$here/../tests/support/session-bus.conf" -- sh -s "$here" "$helper" "$seconds" <<'SCRIPT' 2>/dev/null
here=$1 helper=$2 seconds=$3
. "$here/cpu-share-lib.sh"
"$helper" >/dev/null 2>&1 & pid=$!
sleep 5  # start-up is not part of the steady state
start=$(ticks "$pid"); t0=$(date +%s.%N)
sleep "$seconds"
end=$(ticks "$pid"); t1=$(date +%s.%N)
report "Kelvara Helper" "$start" "$end" "$t0" "$t1" "$(rss "$pid")"
kill "$pid"; wait "$pid" || true
SCRIPT
