# Shared by the bench/*-cpu-share.sh scripts (sourced, POSIX sh).

# CPU time of a process in clock ticks, user and system, of all its threads,
# also of those that ended (Qt's painting helpers end after a while). A tick is
# 10 ms: over 300 s one tick is worth 0.003 % of one core, so measure for minutes.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }

# label, ticks before, ticks after, wall before (date +%s.%N), wall after, resident KiB
report() {
    awk -v l="$1" -v a="$2" -v b="$3" -v t0="$4" -v t1="$5" -v rss="$6" -v hz="$(getconf CLK_TCK)" 'BEGIN {
        cpu = (b - a) / hz; wall = t1 - t0
        printf "%s: wall %.1f s, CPU %.2f s, share %.3f %% of one core, resident %.1f MiB\n",
               l, wall, cpu, 100 * cpu / wall, rss / 1024
    }'
}

# Runs Kelvara once in HOME on a bus of its own, so that it builds the sensor
# catalogue, the default settings and its login entries, then stops it and the
# companions it started: what is measured afterwards is the caller's own.
#   prepare_home APP HOME
prepare_home() {
    mkdir -p -m 700 "$2/run"
    HOME="$2" XDG_RUNTIME_DIR="$2/run" QT_QPA_PLATFORM=offscreen \
        dbus-run-session -- sh -s "$1" "$2" <<'SCRIPT' 2>/dev/null
app=$1 home=$2
"$app/Contents/MacOS/Kelvara" >/dev/null 2>&1 & main=$!
sleep 3; kill "$main"; wait "$main" || true
for dir in /proc/[0-9]*; do
    { tr '\0' '\n' < "$dir/environ"; } 2>/dev/null | grep -qxF "HOME=$home" || continue
    case $(readlink "$dir/exe" 2>/dev/null) in "$app"/*) kill "${dir#/proc/}" 2>/dev/null || true ;; esac
done
sleep 1
SCRIPT
}
