# Shared by the scripts: paths, building a preset, a private X display, Wine helpers.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"

build_preset() {
  local preset="$1"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" -- --no-print-directory >/dev/null
}

# Starts Xvfb on a free display and exports DISPLAY; it is stopped when the script exits.
start_display() {
  local n
  for n in $(seq 90 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      export DISPLAY=":$n"
      return 0
    fi
  done
  echo "no free X display" >&2
  return 1
}

stop_display() {
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}

# Stops the wineserver of a prefix so no Wine process outlives the script.
stop_wine() {
  local prefix="$1"
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  fi
}
