#!/usr/bin/env bash
# Builds Kelvara and runs every test, headless, on a private session bus that
# starts no installed services. Afterwards it lists the skipped tests with their
# reasons, and fails when a program of the build is still running, naming it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir="${KELVARA_BUILD_DIR:-build}"
build_abs="$(realpath "$build_dir")"
export QT_QPA_PLATFORM=offscreen
# Every process of this run inherits the mark, so what it leaves behind is found.
export KELVARA_TEST_RUN="$$-$(date +%s%N)"

status=0
dbus-run-session --config-file="$PWD/tests/support/session-bus.conf" -- \
  ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)" --timeout 120 || status=$?

# gtest writes "<file>:<line>: Skipped" and then the reason; ctest's log keeps every test's output.
log="$build_dir/Testing/Temporary/LastTest.log"
if [ -f "$log" ]; then
  awk '
    /^[0-9]+\/[0-9]+ Testing: / { sub(/^[0-9]+\/[0-9]+ Testing: /, ""); test = $0; next }
    /: Skipped$/ { want = 1; next }
    want { reasons[test] = $0; want = 0 }
    END {
      n = 0; for (t in reasons) n++
      printf "%d test%s skipped%s\n", n, n == 1 ? "" : "s", n ? ":" : "."
      for (t in reasons) printf "  %s: %s\n", t, reasons[t]
    }' "$log"
fi

# Programs of the build started by this run and still running.
leftovers() {
  local proc exe
  for proc in /proc/[0-9]*; do
    exe="$(readlink "$proc/exe" 2>/dev/null)" || continue
    case "$exe" in "$build_abs"/*) ;; *) continue ;; esac
    tr '\0' '\n' <"$proc/environ" 2>/dev/null | grep -qxF "KELVARA_TEST_RUN=$KELVARA_TEST_RUN" || continue
    echo "${proc#/proc/} $exe"
  done
}
# A program may still be on its way out: give it a moment before calling it left over.
for _ in $(seq 20); do
  [ -z "$(leftovers)" ] && break
  sleep 0.1
done
left="$(leftovers)"
if [ -n "$left" ]; then
  echo "Programs of the build still running after the tests (now ended):" >&2
  while read -r pid exe; do
    echo "  $(basename "$exe") (pid $pid): $exe" >&2
    kill -TERM "$pid" 2>/dev/null || true
  done <<<"$left"
  sleep 2
  while read -r pid _; do kill -KILL "$pid" 2>/dev/null || true; done <<<"$(leftovers)"
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
