#!/usr/bin/env bash
# Two robots from one PC: two windows, each on its own settings file and its own simulated robot. Each robot
# gets only what its own window is given; a third program on a file in use is refused and leaves it as it
# was, also after another tool saved over it; a window killed outright leaves no lock behind.
source "$(dirname "$0")/lib.bash"
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR

XVFB_SCREEN=1700x700x24 start_x
SIM_NAME=sim-a start_sim --keep-open
PTY_A=$SIM_PTY LOG_A=$SIM_LOG
SIM_NAME=sim-b start_sim --keep-open
PTY_B=$SIM_PTY LOG_B=$SIM_LOG
INI_A=$WORK/robot-a.ini INI_B=$WORK/robot-b.ini
"$ZANTH_BIN/tools/ini_tool/zanth-ini" "$INI_A" PORTS COM1 "$PTY_A"
"$ZANTH_BIN/tools/ini_tool/zanth-ini" "$INI_B" PORTS COM1 "$PTY_B"

emulator() {  # NAME ARGS...: runs the program on $WORK/NAME.ini in the background, output to NAME.log
  local name=$1; shift
  SDL_AUDIODRIVER=dummy "$ZANTH_BIN/zanth-emulator" --lang en --config "$WORK/$name.ini" "$@" \
    >"$WORK/$name.log" 2>&1 &
  PIDS+=($!)
}

# find_window SEARCH-OPTIONS...: waits for a visible window that matches; sets FOUND. A search fails when a
# window goes away while it runs (X's BadWindow), so it is simply asked again.
find_window() {
  found() { FOUND=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n1) && [ -n "$FOUND" ]; }
  wait_for 20 found "$@"
}

# open_window NAME X: starts a window on NAME.ini at screen column X; sets PID_<NAME> and WID_<NAME>. The title
# names the file, which is how the window is found.
open_window() {
  emulator "$1"
  local pid=$! wid
  # By process as well: the window of one that has just ended may linger on the server for a moment.
  find_window --all --pid "$pid" --name "^$1\.ini " || fail "no window titled $1.ini; log: $(head -c 2000 "$WORK/$1.log")"
  wid=$FOUND
  xdotool windowmove --sync "$wid" "$2" 0
  WID=$wid
  wait_for 10 painted || fail "window $1 was never painted"
  printf -v "PID_${1//-/_}" %s "$pid"
  printf -v "WID_${1//-/_}" %s "$wid"
}

# keyboard_status WID FILE.png: the window's "Keyboard is (not) Ready" box.
keyboard_status() { import -window "$1" "$2.full.png" && convert "$2.full.png" -crop 160x14+622+74 +repage "$2"; }
same() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]; }

last_msg() { tail -n1 "$1" 2>/dev/null | cut -c1-25; }
last_is() { [ "$(last_msg "$1")" = "$2" ]; }
AT_REST="k FF FF FF 80 80 80 80 F3" L1="k FF FF FB 80 80 80 80 F3"

note "two windows, each connected to its own robot"
open_window robot-a 0
open_window robot-b 850
for w in a b; do
  WID=$(eval echo "\$WID_robot_$w") log=$(eval echo "\$LOG_$(tr a-z A-Z <<<"$w")")
  timeout 10 xdotool windowfocus --sync "$WID"
  click_at 740 438
  wait_for 10 last_is "$log" "$AT_REST" || fail "window $w did not connect its robot: $(last_msg "$log")"
done

note "a key held in one window reaches only that window's robot"
# The reference: the keyboard status of a window that is not the active one. A window notices that it lost
# the focus only a moment later (Qt waits 400 ms for the focus to come back), which is about as long as a
# robot takes to connect; so the focus goes to neither window, and the reference is taken once both say the
# same: since neither is active, that they do not read the keyboard.
timeout 10 xdotool windowfocus --sync "$(xwininfo -root | awk '/Window id:/ {print $4}')"
idle() {
  keyboard_status "$WID_robot_a" "$WORK/not-ready.png" && keyboard_status "$WID_robot_b" "$WORK/other.png" &&
    same "$WORK/not-ready.png" "$WORK/other.png"
}
wait_for 10 idle || fail "with the focus on neither window, their keyboard states still differ"
for w in a b; do
  if [ $w = a ]; then wid=$WID_robot_a mine=$LOG_A other=$LOG_B; else wid=$WID_robot_b mine=$LOG_B other=$LOG_A; fi
  if [ $w = a ]; then other_wid=$WID_robot_b; else other_wid=$WID_robot_a; fi
  # The focus moves, and the keys go down once the other window, too, says that it no longer reads the
  # keyboard.
  xdotool mousemove --window "$wid" 400 300
  timeout 10 xdotool windowfocus --sync "$wid"
  switched() {
    keyboard_status "$other_wid" "$WORK/other.png" && keyboard_status "$wid" "$WORK/mine.png" &&
      same "$WORK/other.png" "$WORK/not-ready.png" && ! same "$WORK/mine.png" "$WORK/not-ready.png"
  }
  wait_for 10 switched || fail "window $w: the focus did not move to it"
  : >"$other"
  xdotool keydown q
  wait_for 5 last_is "$mine" "$L1" || fail "window $w: L1 did not reach its robot: $(last_msg "$mine")"
  wait_for 5 test -s "$other" || fail "window $w: the other robot got no messages"
  ! grep -q "^k FF FF FB" "$other" || fail "window $w: L1 reached the other robot: $(cut -c1-25 "$other" | uniq -c)"
  xdotool keyup q
  wait_for 5 last_is "$mine" "$AT_REST" || fail "window $w: L1 not released"
done
[ -n "${SHOTS:-}" ] && import -window root "$SHOTS/two-windows.png"

note "a third program on a file in use is refused and leaves it as it was"
before=$(sha256sum <"$INI_A")
env -u DISPLAY -u WAYLAND_DISPLAY "$ZANTH_BIN/zanth-emulator" --lang en --config "$INI_A" >"$WORK/third.out" \
  2>"$WORK/third.err" && status=0 || status=$?
((status == 3)) || fail "without a display the refusal ended with $status; $(cat "$WORK/third.err")"
grep -q "process $PID_robot_a)" "$WORK/third.err" || fail "the refusal does not name the holder: $(cat "$WORK/third.err")"
grep -q -- "--config" "$WORK/third.err" || fail "the refusal does not say how to use another file"
# With a display it asks; Escape is "Quit".
emulator robot-a
third=$!
find_window --pid "$third" || fail "no box about the file in use; $(head -c 2000 "$WORK/robot-a.log")"
box=$FOUND
[ -n "${SHOTS:-}" ] && import -window "$box" "$SHOTS/refused.png"
timeout 10 xdotool windowfocus --sync "$box" key Escape
wait_for 10 exited "$third" || fail "the refused program did not end on Escape"
wait "$third" && status=0 || status=$?
((status == 3)) || fail "the refused program ended with $status"
[ "$(sha256sum <"$INI_A")" = "$before" ] || fail "the refused program changed the file in use"

note "a file in use saved over from outside (a new file renamed over it) is still refused, and keeps that change"
"$ZANTH_BIN/tools/ini_tool/zanth-ini" "$INI_B" JOYSTICK LX 3
env -u DISPLAY -u WAYLAND_DISPLAY "$ZANTH_BIN/zanth-emulator" --lang en --config "$INI_B" >"$WORK/third.out" \
  2>"$WORK/third.err" && status=0 || status=$?
((status == 3)) || fail "after an outside save the refusal ended with $status; $(cat "$WORK/third.err")"
grep -q "process $PID_robot_b)" "$WORK/third.err" || fail "the refusal does not name the holder: $(cat "$WORK/third.err")"

note "offered another file (the box's default button), the program starts on that one"
emulator robot-a
third=$!
find_window --pid "$third" || fail "no box about the file in use the second time"
box=$FOUND
timeout 10 xdotool windowfocus --sync "$box" key Return
find_window --all --pid "$third" --name "^Settings File for This Window$" ||
  fail "no file dialog after choosing another file"
chooser=$FOUND
timeout 10 xdotool windowfocus --sync "$chooser" type "$WORK/robot-c.ini"
xdotool key Return
find_window --all --pid "$third" --name "^robot-c\.ini " ||
  fail "no window on the file chosen; $(head -c 2000 "$WORK/robot-a.log")"
wid=$FOUND
timeout 10 xdotool windowfocus --sync "$wid" key Escape
wait_for 15 exited "$third" || fail "the window on the chosen file did not close"
wait "$third" || fail "the window on the chosen file ended with $?"
grep -q "^\[SYSTEM\]" "$WORK/robot-c.ini" || fail "the chosen file was not saved"
[ "$(sha256sum <"$INI_A")" = "$before" ] || fail "the file in use changed"

note "killed outright, a window leaves no lock behind"
kill -KILL "$PID_robot_a"
wait_for 10 exited "$PID_robot_a" || fail "window a did not die"
open_window robot-a 0
! grep -q "in use" "$WORK/robot-a.log" || fail "the file was still taken after a kill: $(cat "$WORK/robot-a.log")"
timeout 10 xdotool windowfocus --sync "$WID_robot_a" key Escape
wait_for 15 exited "$PID_robot_a" || fail "the new window a did not close"
grep -q "^\[SYSTEM\]" "$INI_A" || fail "the new window a did not save its file"
kill -TERM "$PID_robot_b"
wait_for 15 exited "$PID_robot_b" || fail "window b did not close on SIGTERM"
[ "$("$ZANTH_BIN/tools/ini_tool/zanth-ini" "$INI_B" JOYSTICK LX)" = 3 ] || fail "window b's save undid the outside change"
grep -q "^\[CONTROLLER\]" "$INI_B" || fail "window b did not save its file"

note "a team: one pad per window, both driven at once (BACK=1: the pads work while the other window is active)"
for w in a b; do
  "$ZANTH_BIN/tools/ini_tool/zanth-ini" "$WORK/robot-$w.ini" SYSTEM BACK 1
  mkfifo "$WORK/pad-$w"
  export ZANTH_VIRTUAL_PADS="Pad ${w^^}@7a01:000${w/a/1}" ZANTH_VIRTUAL_PAD_INPUT=$WORK/pad-$w
  [ $w = a ] && open_window robot-a 0 || open_window robot-b 850
  WID=$(eval echo "\$WID_robot_$w") log=$(eval echo "\$LOG_${w^^}")
  click_at 740 438
  : >"$log"
  wait_for 10 last_is "$log" "$AT_REST" || fail "window $w did not connect its robot again: $(last_msg "$log")"
done
unset ZANTH_VIRTUAL_PADS ZANTH_VIRTUAL_PAD_INPUT
exec 5<>"$WORK/pad-a" 6<>"$WORK/pad-b"
echo "0 button 2 1" >&5
echo "0 button 3 1" >&6
moved() { [ -n "$(last_msg "$1")" ] && [ "$(last_msg "$1")" != "$AT_REST" ]; }
wait_for 5 moved "$LOG_A" || fail "pad A did not drive robot A: $(last_msg "$LOG_A"); $(tail -c 2000 "$WORK/robot-a.log")"
wait_for 5 moved "$LOG_B" || fail "pad B did not drive robot B: $(last_msg "$LOG_B"); $(tail -c 2000 "$WORK/robot-b.log")"
held_a=$(last_msg "$LOG_A") held_b=$(last_msg "$LOG_B")
[ "$held_a" != "$held_b" ] || fail "both robots got the same frame: $held_a"
grep -q "^${held_b:0:25}" "$LOG_A" && fail "robot A got pad B's button"
grep -q "^${held_a:0:25}" "$LOG_B" && fail "robot B got pad A's button"
if [ -n "${SHOTS:-}" ]; then
  import -window root "$SHOTS/two-pads.png"
  xdotool getwindowname "$WID_robot_a" >"$SHOTS/titles.txt"
  xdotool getwindowname "$WID_robot_b" >>"$SHOTS/titles.txt"
fi
echo "0 button 2 0" >&5
echo "0 button 3 0" >&6
wait_for 5 last_is "$LOG_A" "$AT_REST" || fail "pad A's button not released"
wait_for 5 last_is "$LOG_B" "$AT_REST" || fail "pad B's button not released"
echo "PASS"
