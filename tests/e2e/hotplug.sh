#!/usr/bin/env bash
# A USB adapter plugged in while the window is open: it appears in the port list under its product name and
# connects; pulled out while driving, the window says it is reconnecting; plugged back in, the robot gets
# messages again without a click; the settings file remembers the adapter by its stable name.
# The devices live in a tree of the test's own (ZANTH_DEVICE_ROOT), their nodes links to the simulator's
# pseudo-terminals.
source "$(dirname "$0")/lib.bash"

ROOT=$WORK/root
BYID=usb-E2E_Robot_Adapter_0042-if00-port0
mkdir -p "$ROOT/dev"
export ZANTH_DEVICE_ROOT=$ROOT

# robot N: a simulator of its own; sets ROBOT_PTY and ROBOT_LOG.
robot() {
  ROBOT_LOG=$WORK/robot$1.log
  mkfifo "$WORK/robot$1.out"
  "$ZANTH_BIN/tools/robot_sim/zanth-robot-sim" --log "$ROBOT_LOG" >"$WORK/robot$1.out" &
  PIDS+=($!)
  ROBOT_PID=$!
  exec 5<"$WORK/robot$1.out"
  read -r -t 10 ROBOT_PTY <&5 || fail "simulator $1 printed no pseudo-terminal"
  cat <&5 >/dev/null &
  PIDS+=($!)
}

# plug: the adapter appears as ttyUSB0 the way the kernel and udev make it: sys entries, node, by-id link.
plug() {
  local usb=$ROOT/sys/devices/usb1/1-1
  mkdir -p "$usb/1-1:1.0/ttyUSB0" "$ROOT/sys/class/tty/ttyUSB0"
  echo 0403 >"$usb/idVendor"; echo 6001 >"$usb/idProduct"
  echo "E2E Robot Adapter" >"$usb/product"; echo 0042 >"$usb/serial"
  ln -sfn ../../../devices/usb1/1-1/1-1:1.0/ttyUSB0 "$ROOT/sys/class/tty/ttyUSB0/device"
  ln -s "$ROBOT_PTY" "$ROOT/dev/ttyUSB0"
  mkdir -p "$ROOT/dev/serial/by-id"
  ln -s ../../ttyUSB0 "$ROOT/dev/serial/by-id/$BYID"
}
unplug() { rm -rf "$ROOT/dev/serial/by-id/$BYID" "$ROOT/dev/ttyUSB0" "$ROOT/sys/class/tty/ttyUSB0"; }

# Pixels of a part of the window that differ from what it showed before (a crop "WxH+X+Y").
changed() {
  shot "$WORK/now.png"
  convert "$WORK/now.png" -crop "$2" +repage "$WORK/part.png"
  local px
  px=$(compare -metric AE -fuzz 10% "$1" "$WORK/part.png" null: 2>&1 || true)
  [[ "$px" =~ ^[0-9]+$ ]] && ((px > 20))
}
unchanged() { ! changed "$@"; }
COMBO=84x21+698+388
NOTE=150x21+503+221
seen() { grep -q "^k " "$ROBOT_LOG" 2>/dev/null; }

start_x
start_emulator --lang en
shot "$WORK/before.png"
convert "$WORK/before.png" -crop $COMBO +repage "$WORK/combo-empty.png"
convert "$WORK/before.png" -crop $NOTE +repage "$WORK/note-empty.png"

note "plug the adapter in while the window is open: COM1 now names it"
robot 1
plug
wait_for 10 changed "$WORK/combo-empty.png" $COMBO || fail "the port list did not change when the adapter came"
cp "$WORK/part.png" "$WORK/combo-plugged.png"

note "connect: the messages go to the adapter"
click_at 740 438
wait_for 10 seen || fail "no message reached the plugged adapter"

note "pull it out while driving: the window says it is reconnecting"
unplug
kill -TERM "$ROBOT_PID"
wait_for 10 changed "$WORK/note-empty.png" $NOTE || fail "no note while the adapter was away"
cp "$WORK/now.png" "$WORK/reconnecting.png"
exec 5<&-

note "plug it back in: the robot gets messages again without a click"
robot 2
plug
wait_for 10 seen || fail "no message after the adapter came back"
wait_for 10 unchanged "$WORK/note-empty.png" $NOTE || fail "the note stayed after the adapter came back"

note "closing remembers the adapter by its stable name"
close_connected_emulator
grep -qx "PORTDEVICE=$ROOT/dev/serial/by-id/$BYID" "$WORK/run/Zanth-Emulator.ini" ||
  fail "adapter not remembered: $(grep PORT "$WORK/run/Zanth-Emulator.ini")"
echo "PASS"
