# Shared by the scripts: paths, building a preset, a private X display, Wine helpers.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"

# Whether this machine can execute 32-bit x86 code: some kernels (or the hypervisors under them)
# refuse every i386 program, and then Wine runs 64-bit Windows programs only. Asked by running a
# 93-byte i386 Linux program that just exits 0; the answer is kept in WHEEL_CAN_RUN_32 for this
# script and the programs it starts. Returns 0 when it can.
can_run_32bit() {
  if [ -z "${WHEEL_CAN_RUN_32:-}" ]; then
    local probe
    # In the project folder, which is surely not mounted noexec as /tmp can be.
    probe=$(mktemp "$root/.probe32.XXXXXX")
    # ELF header, one loadable segment, then: mov eax, 1; xor ebx, ebx; int 0x80 (exit 0).
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    if "$probe" 2>/dev/null; then WHEEL_CAN_RUN_32=yes; else WHEEL_CAN_RUN_32=no; fi
    rm -f "$probe"
    export WHEEL_CAN_RUN_32
  fi
  [ "$WHEEL_CAN_RUN_32" = yes ]
}
no_32bit_reason="this machine cannot execute 32-bit code"

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
