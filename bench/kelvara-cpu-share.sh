#!/bin/sh
# Kelvara's CPU time divided by wall time while its window is shown and the
# Kelvara Helper it started polls at the 2 s interval against the virtual SMC,
# in a home of its own (offscreen); then its resident memory.
#   bench/kelvara-cpu-share.sh [build folder] [seconds]
# The window shows the screen it opens with; once the settings screen can be
# chosen from the sidebar, choose it here before measuring.
set -eu
build=$(cd "${1:-build}" && pwd)
seconds=${2:-120}
app="$build/Kelvara.app"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run"

HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
    dbus-run-session -- sh -s "$app" "$home" "$seconds" <<'SCRIPT'
app=$1 home=$2 seconds=$3
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# The processes of this bundle started in this home (Kelvara's companions outlive it).
ours() {
    for dir in /proc/[0-9]*; do
        { tr '\0' '\n' < "$dir/environ"; } 2>/dev/null | grep -qxF "HOME=$home" || continue
        case $(readlink "$dir/exe" 2>/dev/null) in "$app"/*) echo "${dir#/proc/} $(readlink "$dir/exe")" ;; esac
    done
}
"$app/Contents/MacOS/Kelvara" & pid=$!
sleep 5  # start-up (catalogue, companions) is not part of the steady state
start=$(ticks "$pid"); t0=$(date +%s.%N)
sleep "$seconds"
end=$(ticks "$pid"); t1=$(date +%s.%N)
rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
helper=$(ours | grep -c "/Kelvara Helper$" || true)
ours | while read -r other _; do kill "$other" 2>/dev/null || true; done
wait "$pid" || true
awk -v a="$start" -v b="$end" -v t0="$t0" -v t1="$t1" -v hz="$(getconf CLK_TCK)" -v rss="$rss" -v h="$helper" 'BEGIN {
    cpu = (b - a) / hz; wall = t1 - t0
    printf "wall %.1f s, CPU %.2f s, share %.3f %% of one core, resident %.1f MiB (helpers polling: %s)\n",
           wall, cpu, 100 * cpu / wall, rss / 1024, h
}'
SCRIPT
