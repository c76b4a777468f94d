#!/bin/sh
# The idle cost of a user's session: Kelvara Helper and Kelvara Menu started from
# the login entries Kelvara wrote (as the desktop starts them at login), on a real
# desktop panel with its tray (the desktop-session tool: Xvfb, openbox,
# xfce4-panel), the helper polling the virtual SMC at the default 2 s interval and
# the popover closed. Prints each program's CPU share and resident memory over the
# same span: the time the scheduler ran their threads, divided by wall time.
#   bench/session-cpu-share.sh [--check] [build folder] [seconds]
# Defaults: build 300. With --check it fails when either share is 0.04 % of one
# core or more. DESKTOP_SESSION_TOOL overrides the tool's place. MENU_SENSORS
# chooses the menu bar's sensors instead of the default (e.g. "TC0P TG0P 0": two
# temperatures and the first fan; needs python3).
set -eu
check=0
[ "${1:-}" = --check ] && { check=1; shift; }
build=$(cd "${1:-build}" && pwd)
seconds=${2:-300}
here=$(cd "$(dirname "$0")" && pwd)
tool=${DESKTOP_SESSION_TOOL:-$here/../../shared/tools/desktop-session}
app="$build/Kelvara.app"
home=$(mktemp -d)
out=$(mktemp -d)
trap 'rm -rf "$home" "$out"' EXIT
. "$here/cpu-share-lib.sh"
prepare_home "$app" "$home"
ls "$home/.config/autostart/"*.desktop >/dev/null 2>&1 || { echo "Kelvara wrote no login entries" >&2; exit 1; }
if [ -n "${MENU_SENSORS:-}" ]; then
    python3 - "$home/Library/Group Containers/group.com.orvane.kelvara/Library/Preferences/group.com.orvane.kelvara.plist" \
        $MENU_SENSORS <<'PY'
import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    settings = plistlib.load(f)
settings['KLMenuSensors'] = sys.argv[2:]
with open(sys.argv[1], 'wb') as f:
    plistlib.dump(settings, f, fmt=plistlib.FMT_BINARY)
PY
fi

cat > "$home/measure" <<SCRIPT
#!/bin/sh
. "$here/cpu-share-lib.sh"
seconds=$seconds
SCRIPT
cat >> "$home/measure" <<'SCRIPT'
# Each login entry's command, as the desktop's autostart runs it.
for entry in "$HOME/.config/autostart/"*.desktop; do
    command=$(sed -n 's/^Exec=//p' "$entry" | head -1)
    eval "set -- $command"
    "$@" >/dev/null 2>&1 &
    case $1 in *"/Kelvara Helper") helper=$! ;; *"/Kelvara Menu") menu=$! ;; esac
done
sleep 15  # start-up and the tray items are not part of the steady state
cpu_runtime "Kelvara Helper" "$helper" "$seconds" > "$HOME/helper.txt" & watch=$!
cpu_runtime "Kelvara Menu (popover closed)" "$menu" "$seconds" > "$HOME/menu.txt"
wait "$watch"
cat "$HOME/helper.txt" "$HOME/menu.txt"
# Both keep running: the tool reads the tray, then stops everything in this home.
SCRIPT
chmod +x "$home/measure"

"$tool" --home "$home" --wait "$((seconds + 30))" "$out" -- "$home/measure" >/dev/null
cat "$out/command.log"
# What the panel showed at the end, read by text recognition.
sed -n 's/^reads: */the tray reads: /p' "$out/tray.txt" 2>/dev/null
[ "$check" = 0 ] || awk '/share/ { for (i = 1; i <= NF; i++) if ($i == "share" && $(i + 1) + 0 >= 0.04) bad = 1 }
                         END { if (bad || NR < 2) { print "over the target of 0.04 % of one core" > "/dev/stderr"; exit 1 } }' "$out/command.log"
