#!/usr/bin/env bash
# Builds Kelvara and starts it against the virtual SMC (or the applesmc driver on a Mac).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
app="${KELVARA_BUILD_DIR:-build}/Kelvara.app/Contents/MacOS/Kelvara"
# A desktop session provides a private runtime folder; a bare shell may not.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  export XDG_RUNTIME_DIR
fi
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
