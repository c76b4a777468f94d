#!/bin/sh
# Kelvara Helper's CPU time divided by wall time while it polls at the 2 s
# interval against the virtual SMC, in a home of its own.
#   bench/helper-cpu-share.sh [build folder] [seconds]
set -eu
build=$(cd "${1:-build}" && pwd)
seconds=${2:-300}
app="$build/Kelvara.app"
helper="$app/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run"

HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
    dbus-run-session -- sh -s "$app" "$helper" "$seconds" "$home" <<'SCRIPT'
app=$1 helper=$2 seconds=$3 home=$4
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# Kelvara builds the sensor catalogue when it starts; the companions it starts
# outlive it and are stopped here, so the helper measured is the script's own.
"$app/Contents/MacOS/Kelvara" & main=$!
sleep 3; kill "$main"; wait "$main" || true
for dir in /proc/[0-9]*; do
    { tr '\0' '\n' < "$dir/environ"; } 2>/dev/null | grep -qxF "HOME=$home" || continue
    case $(readlink "$dir/exe" 2>/dev/null) in "$app"/*) kill "${dir#/proc/}" 2>/dev/null || true ;; esac
done
sleep 1
"$helper" & pid=$!
sleep 5  # start-up is not part of the steady state
start=$(ticks "$pid"); t0=$(date +%s.%N)
sleep "$seconds"
end=$(ticks "$pid"); t1=$(date +%s.%N)
rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
kill "$pid"; wait "$pid" || true
awk -v a="$start" -v b="$end" -v t0="$t0" -v t1="$t1" -v hz="$(getconf CLK_TCK)" -v rss="$rss" 'BEGIN {
    cpu = (b - a) / hz; wall = t1 - t0
    printf "wall %.1f s, CPU %.2f s, share %.3f %% of one core, resident %.1f MiB\n", wall, cpu, 100 * cpu / wall, rss / 1024
}'
SCRIPT
