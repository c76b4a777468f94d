#!/usr/bin/env bash
# Builds Kelvara and starts it against the virtual SMC (or the applesmc driver on a Mac).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
app="${KELVARA_BUILD_DIR:-build}/Kelvara.app/Contents/MacOS/Kelvara"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Kelvara on a virtual X display."
  set -- xvfb-run -a "$app"
else
  set -- "$app"
fi
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  exec dbus-run-session -- "$@"
fi
exec "$@"
