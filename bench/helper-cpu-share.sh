#!/bin/sh
# The time the scheduler ran Kelvara Helper divided by wall time, while it polls
# at the 2 s interval against the virtual SMC, in a home of its own.
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
cpu_runtime "Kelvara Helper" "$pid" "$seconds"
kill "$pid"; wait "$pid" || true
SCRIPT
