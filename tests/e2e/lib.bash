# Shared set-up of the end-to-end tests: a private X server, the robot simulator on a pseudo-terminal, and the
# emulator started in a temporary folder whose settings file maps COM1 to that pseudo-terminal.
# Sourced by the tests; needs ZANTH_BIN (the build folder).
set -euo pipefail
: "${ZANTH_BIN:?ZANTH_BIN must name the build folder}"
WORK=$(mktemp -d /tmp/zanth-e2e.XXXXXX)
# Nothing a test starts may reach the real home's settings.
export XDG_CONFIG_HOME=$WORK/config XDG_DATA_HOME=$WORK/data
PIDS=()

cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "${KEEP_E2E:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

# Microseconds since the epoch (whatever the locale's decimal point).
now_us() { echo "${EPOCHREALTIME//[.,]/}"; }

# wait_for SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds. On time-out it says what it waited
# for and returns 1, so that the caller adds what it saw: `wait_for 5 cond || fail "..."`. The limit only
# guards against hangs; it is no timing check.
wait_for() {
  local limit=$1; shift
  local end=$(($(now_us) + limit * 1000000))
  until "$@"; do
    if (($(now_us) >= end)); then
      echo "-- gave up after $limit s waiting for: $*" >&2
      return 1
    fi
    sleep 0.05
  done
}

# True once the process has ended.
exited() { ! kill -0 "$1" 2>/dev/null; }

start_x() {
  # -r: no auto-repeat, so a held key is one press. -noreset: no server reset (which refuses connections for
  # a moment) when the last client goes. -displayfd picks a free display number.
  Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1024x768x24}" -r -noreset -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
  PIDS+=($!)
  wait_for 10 test -s "$WORK/display" || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$WORK/display")"
  unset WAYLAND_DISPLAY
}

# start_sim [options...]: starts the simulator, sets SIM_PTY, SIM_LOG and SIM_PID. SIM_NAME (default "sim")
# names its files, so that a test can run more than one.
start_sim() {
  local name=${SIM_NAME:-sim}
  SIM_LOG=$WORK/$name.log
  mkfifo "$WORK/$name.out"
  "$ZANTH_BIN/tools/robot_sim/zanth-robot-sim" --log "$SIM_LOG" "$@" >"$WORK/$name.out" &
  PIDS+=($!)
  SIM_PID=$!
  exec 4<"$WORK/$name.out"
  read -r -t 10 SIM_PTY <&4 || fail "simulator printed no pseudo-terminal"
  cat <&4 >/dev/null &
  PIDS+=($!)
  [ -e "$SIM_PTY" ] || fail "simulator gave no pseudo-terminal"
}

# start_emulator [args...]: runs the emulator in $WORK/run, sets EMU_PID and WID.
# find_window SECONDS NAME: the first visible window whose name matches, in FOUND. Searched again and again
# rather than with --sync: a window that vanishes while xdotool walks the tree ends that search with an X
# error, and the next one does not meet it.
find_window() {
  local limit=$1 name=$2
  FOUND=
  find_window_once() { FOUND=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1); [ -n "$FOUND" ]; }
  wait_for "$limit" find_window_once "$name"
}

start_emulator() {
  mkdir -p "$WORK/run"
  # A settings file in the start folder keeps the settings there (a portable folder).
  [ -e "$WORK/run/Zanth-Emulator.ini" ] || : >"$WORK/run/Zanth-Emulator.ini"
  if [ -n "${SIM_PTY:-}" ]; then
    "$ZANTH_BIN/tools/ini_tool/zanth-ini" "$WORK/run/Zanth-Emulator.ini" PORTS COM1 "$SIM_PTY"
  fi
  (cd "$WORK/run" && SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} exec "$ZANTH_BIN/zanth-emulator" "$@" \
     >"$WORK/emulator.log" 2>&1) &
  EMU_PID=$!
  PIDS+=($EMU_PID)
  find_window 20 "Zanth"
  WID=$FOUND
  [ -n "$WID" ] || fail "no window within 20 s; log: $(head -c 2000 "$WORK/emulator.log")"
  timeout 10 xdotool windowfocus --sync "$WID" || fail "the window did not take the focus"
  wait_for 10 painted || fail "the window was never painted"
}

# True once the window shows a picture rather than one flat colour.
painted() {
  shot "$WORK/painted.png" 2>/dev/null || return 1
  [ "$(convert "$WORK/painted.png" -format "%[fx:standard_deviation > 0.02]" info:)" = 1 ]
}

# settled FILE.png: takes a screenshot into FILE.png; true when it equals the one the call before took there, i.e.
# the window has stopped changing. Poll it: `wait_for 5 settled a.png`.
settled() {
  local next="${1%.png}.next.png" same=1
  shot "$next" || return 1
  [ -f "$1" ] && [ "$(compare -metric AE "$1" "$next" null: 2>&1)" = 0 ] || same=0
  mv "$next" "$1"
  ((same))
}

# True while the emulator has the simulator's pseudo-terminal open.
holds_port() { ls -l "/proc/$EMU_PID/fd" 2>/dev/null | grep -q -- "-> $SIM_PTY\$"; }
released_port() { ! holds_port; }

# Clicks at window coordinates.
click_at() { xdotool mousemove --window "$WID" "$1" "$2" click 1; }
press_at() { xdotool mousemove --window "$WID" "$1" "$2" mousedown 1; }
release_mouse() { xdotool mouseup 1; }
shot() { import -window "$WID" "$1"; }

# close_emulator: closes the window with Escape and waits for the process to end.
close_emulator() {
  timeout 10 xdotool windowfocus --sync "$WID" key Escape || fail "could not send Escape to the window"
  wait_for 15 exited "$EMU_PID" || fail "the emulator did not end after Escape"
}

# close_connected_emulator: Escape while connected asks first; answers Yes and waits for the process to end.
close_connected_emulator() {
  local alone
  alone=$(xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l)
  timeout 10 xdotool windowfocus --sync "$WID" key Escape || fail "could not send Escape to the window"
  asked() { (($(xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l) > alone)); }
  wait_for 10 asked || fail "Escape while connected did not ask"
  xdotool key y
  wait_for 15 exited "$EMU_PID" || fail "the emulator did not end after Yes"
}

# start_holding_l1: starts the program afresh (settings file holding the port alone), connects and holds L1
# (key q). Sets INI; fail messages start with $what.
start_holding_l1() {
  INI=$WORK/run/Zanth-Emulator.ini
  rm -f "$INI"
  start_emulator --lang en
  local before
  before=$(wc -l <"$SIM_LOG")
  click_at 740 438
  connected() { tail -n +"$((before + 1))" "$SIM_LOG" | grep -q "^k FF FF FF"; }
  wait_for 10 connected || fail "${what:-}: not connected"
  xdotool keydown q
  l1_sent() { tail -n1 "$SIM_LOG" | grep -q '^k FF FF FB'; }
  wait_for 5 l1_sent || fail "${what:-}: L1 not sent: $(tail -n1 "$SIM_LOG")"
}

# Mean colour of a rectangle "WxH+X+Y" of a picture as "r g b" (0-255).
mean_rgb() {
  convert "$1" -crop "$2" +repage -resize 1x1\! -format "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]" info:
}
