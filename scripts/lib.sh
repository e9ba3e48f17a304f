# Shared by the scripts: paths, building a preset, a private X display, Wine helpers.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"

build_preset() {
  local preset="$1"
  shift
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" "$@" -- --no-print-directory >/dev/null
}

# The uninstaller relies on DeleteRegKey /ifempty looking at values as well as subkeys; before
# NSIS 3.06 it looked at subkeys only and would delete the user's machine-wide Amplify.
require_makensis() {
  local text major minor
  if ! text=$(makensis -VERSION 2>/dev/null); then
    echo "makensis (NSIS 3.06 or later) is not installed" >&2
    return 1
  fi
  if [[ "$text" =~ ^v?([0-9]+)\.([0-9]+) ]]; then
    major=$((10#${BASH_REMATCH[1]}))
    minor=$((10#${BASH_REMATCH[2]}))
    if [ "$major" -gt 3 ] || { [ "$major" -eq 3 ] && [ "$minor" -ge 6 ]; }; then
      return 0
    fi
  fi
  echo "makensis reports \"$text\"; the uninstaller needs NSIS 3.06 or later" >&2
  return 1
}

# Prints the path of one of Wine's programs (wine64, wine, wineserver): where Debian puts them,
# which is not on PATH, or else on PATH. Fails when neither has it.
wine_program() {
  local name="$1"
  if [ -x "/usr/lib/wine/$name" ]; then
    echo "/usr/lib/wine/$name"
  elif command -v "$name" >/dev/null 2>&1; then
    command -v "$name"
  else
    echo "Wine's $name is neither in /usr/lib/wine nor on PATH" >&2
    return 1
  fi
}

# Starts Xvfb on a display it picks itself and exports DISPLAY; it is stopped when the script
# exits. Fails when the server does not come up.
start_display() {
  local fifo number=""
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 20 number <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$number" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    unset xvfb_pid
    echo "start_display: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
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
    WINEPREFIX="$prefix" "$(wine_program wineserver)" -k 2>/dev/null || true
  fi
}
