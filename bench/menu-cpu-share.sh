#!/bin/sh
# Kelvara Menu's CPU time divided by wall time on a real desktop panel (the
# desktop-session tool: Xvfb, openbox, xfce4-panel with its tray), while the
# Kelvara Helper started here polls at the 2 s interval against the virtual SMC,
# in a home of its own: first with the popover closed, then with it opened by a
# click on the tray item (after the pointer went down its list), then closed again
# by a click on the desktop; each with the resident memory at its end.
#   bench/menu-cpu-share.sh [build folder] [seconds closed] [seconds open]
# Defaults: build 120 60. DESKTOP_SESSION_TOOL overrides the tool's place.
set -eu
build=$(cd "${1:-build}" && pwd)
closed=${2:-120}
open=${3:-60}
here=$(cd "$(dirname "$0")" && pwd)
tool=${DESKTOP_SESSION_TOOL:-$here/../../shared/tools/desktop-session}
app="$build/Kelvara.app"
home=$(mktemp -d)
out=$(mktemp -d)
trap 'rm -rf "$home" "$out"' EXIT

. "$here/cpu-share-lib.sh"
prepare_home "$app" "$home"

# What runs inside the desktop: the helper, the menu, the two measurements.
cat > "$home/measure" <<SCRIPT
#!/bin/sh
. "$here/cpu-share-lib.sh"
SCRIPT
cat >> "$home/measure" <<'SCRIPT'
app=$1 closed=$2 open=$3
"$app/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper" >/dev/null 2>&1 & helper=$!
sleep 2
"$app/Contents/Components/Kelvara Menu.app/Contents/MacOS/Kelvara Menu" >/dev/null 2>&1 & menu=$!
sleep 10  # start-up and the tray item are not part of the steady state
h=$(ticks "$helper"); th=$(date +%s.%N)
a=$(ticks "$menu"); t0=$(date +%s.%N)
sleep "$closed"
b=$(ticks "$menu"); t1=$(date +%s.%N)
report "popover closed" "$a" "$b" "$t0" "$t1" "$(rss "$menu")"

# The tray's first item, as a user clicks it.
tray=$(xwininfo -root -tree | awk '/wrapper-2.0.*\+[0-9]+\+0$/ && $0 !~ /-100/ {print; exit}')
x=$(echo "$tray" | grep -oE '\+[0-9]+\+0$' | cut -d+ -f2)
xdotool mousemove "$((x + 10))" 14 click 1
sleep 3
shown=$(xdotool search --onlyvisible --pid "$menu" 2>/dev/null | wc -l)
# Down the lower half of the popover, where the list is, so that the detail popover
# shows a few sensors' history; then up and out over the top, which closes it.
eval "$(xdotool search --onlyvisible --pid "$menu" 2>/dev/null | head -1 | xargs -r xdotool getwindowgeometry --shell)"
if [ -n "${HEIGHT:-}" ]; then
    y=$((Y + HEIGHT / 2))
    while [ "$y" -lt $((Y + HEIGHT - 60)) ]; do
        xdotool mousemove "$((X + WIDTH / 2))" "$y"; sleep 0.3; y=$((y + 20))
    done
    xdotool mousemove "$((X + WIDTH / 2))" 14; sleep 1
fi
a=$(ticks "$menu"); t0=$(date +%s.%N)
sleep "$open"
b=$(ticks "$menu"); t1=$(date +%s.%N)
report "popover open ($shown windows shown)" "$a" "$b" "$t0" "$t1" "$(rss "$menu")"

# A click on the desktop closes it; the program now holds what the popover read.
xdotool mousemove 60 900 click 1
sleep 3
a=$(ticks "$menu"); t0=$(date +%s.%N)
sleep "$closed"
b=$(ticks "$menu"); t1=$(date +%s.%N)
report "popover closed again ($(xdotool search --onlyvisible --pid "$menu" 2>/dev/null | wc -l) windows shown)" \
    "$a" "$b" "$t0" "$t1" "$(rss "$menu")"
# The helper's own share says it polled all along.
awk -v a="$h" -v b="$(ticks "$helper")" -v t0="$th" -v t1="$(date +%s.%N)" -v hz="$(getconf CLK_TCK)" 'BEGIN {
    printf "Kelvara Helper meanwhile: share %.3f %% of one core\n", 100 * (b - a) / hz / (t1 - t0)
}'
kill "$menu" "$helper" 2>/dev/null; wait "$menu" "$helper" 2>/dev/null || true
SCRIPT
chmod +x "$home/measure"

"$tool" --home "$home" --wait "$((2 * closed + open + 40))" "$out" -- "$home/measure" "$app" "$closed" "$open" >/dev/null
cat "$out/command.log"
