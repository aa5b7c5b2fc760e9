#!/usr/bin/env bash
# Starts Termset on a private X server with an accessibility bus and lets a
# screen reader's view of it (AT-SPI) be checked by atspi_names.py.
#   accessibility.sh BIN_DIR atspi_names.py
set -euo pipefail
bin=$(cd "$1" && pwd) script=$2

for tool in Xvfb xwininfo dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || [ -x "$tool" ] || { echo "SKIP: $tool is not installed (scripts/install-deps)"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

. "$(dirname "$0")/scratch.sh"
scratch "a11y"
mkdir -p "$tmp/home" "$tmp/run" "$tmp/xdg" && chmod 700 "$tmp/run"

# A free display number, chosen by the server itself.
exec 3> "$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp > "$tmp/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { cat "$tmp/xvfb.log"; echo "Xvfb did not start"; exit 1; }

export DISPLAY=:$(head -1 "$tmp/display")
# The number is written once the server listens; on a loaded machine give it
# a moment more to take connections before Termset needs one.
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_DIRS=$tmp/xdg
export XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share XDG_STATE_HOME=$tmp/home/.local/state
unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

# One session bus for Termset and the checker; the accessibility bus is
# started on it on demand.
dbus-run-session -- bash -c '
  "$1/Termset" > "$2/termset.out" 2>&1 &
  termset=$!
  /usr/bin/python3 "$3" Termset; status=$?
  kill $termset 2>/dev/null
  wait $termset 2>/dev/null
  [ $status -eq 0 ] || cat "$2/termset.out"
  exit $status' _ "$bin" "$tmp" "$script"
