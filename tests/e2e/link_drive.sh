#!/usr/bin/env bash
# The main job end to end: connect to the simulated robot, drive it with the keyboard, the mouse and the
# sliders, watch the battery meter follow the replies, survive a robot that stops answering, disconnect.
source "$(dirname "$0")/lib.bash"

start_x
echo 70 >"$WORK/level"
start_sim --level-file "$WORK/level" --keep-open
start_emulator --lang en

# Messages the simulator decoded: "<cmd> <8 hex bytes> | ..."
last_msg() { tail -n1 "$SIM_LOG" 2>/dev/null | cut -c1-25; }
seen() { grep -q -- "$1" "$SIM_LOG" 2>/dev/null; }
last_is() { [ "$(last_msg)" = "$1" ]; }
fresh() { : >"$SIM_LOG"; }  # only messages from now on count

note "connect"
click_at 740 438
wait_for 10 seen "^k FF FF FF 80 80 80 80 F3" || fail "no at-rest frame; log: $(head -3 "$SIM_LOG")"

note "hold Q (L1): byte 2 loses 0x04"
fresh; xdotool keydown q
wait_for 5 last_is "k FF FF FB 80 80 80 80 F3" || fail "L1 not sent: $(last_msg)"
xdotool keyup q
fresh; wait_for 5 last_is "k FF FF FF 80 80 80 80 F3" || fail "L1 not released: $(last_msg)"

note "mouse on SELECT: byte 1 = FE"
press_at 378 382
fresh; wait_for 5 last_is "k FF FE FF 80 80 80 80 F3" || fail "SELECT not sent: $(last_msg)"
release_mouse
fresh; wait_for 5 last_is "k FF FF FF 80 80 80 80 F3" || fail "SELECT not released"

note "MODE flips the LED bit"
click_at 399 318
fresh; wait_for 5 last_is "k FF FF FF 80 80 80 80 FB" || fail "LED not off: $(last_msg)"
click_at 399 318
fresh; wait_for 5 last_is "k FF FF FF 80 80 80 80 F3" || fail "LED not back on: $(last_msg)"

note "right arrow moves the right stick X byte"
xdotool key Right
fresh; wait_for 5 last_is "k FF FF FF 81 80 80 80 F3" || fail "slider not sent: $(last_msg)"

note "battery colours"
meter_is() {  # predicate on r g b
  shot "$WORK/meter.png"
  read -r r g b <<<"$(mean_rgb "$WORK/meter.png" 40x15+297+224)"
  eval "$1"
}
expect_meter() {  # level, predicate on r g b
  echo "$1" >"$WORK/level"
  wait_for 10 meter_is "$2" || fail "meter at level $1 shows rgb $r $g $b"
  cp "$WORK/meter.png" "$WORK/meter-$1.png"
}
expect_meter 70 '((r > 200 && g > 200 && b < 80))'
expect_meter 65 '((r > 200 && g < 80 && b < 80))'
expect_meter 73 '((r < 80 && g < 80 && b > 200))'

note "robot stops answering: the meter says so and the window keeps working"
kill -STOP "$SIM_PID"
# Beside the meter, where the note appears, as it looked while the robot answered.
convert "$WORK/meter-73.png" -crop 60x21+502+221 +repage "$WORK/note-before.png"
shows_no_reply() {
  shot "$WORK/noreply.png"
  read -r r g b <<<"$(mean_rgb "$WORK/noreply.png" 40x15+297+224)"
  greyed=$((r < 200 && r == g && g == b))
  convert "$WORK/noreply.png" -crop 60x21+502+221 +repage "$WORK/note.png"
  note_px=$(compare -metric AE -fuzz 20% "$WORK/note-before.png" "$WORK/note.png" null: 2>&1 || true)
  [[ "$note_px" =~ ^[0-9]+$ ]] && ((greyed && note_px > 20))
}
wait_for 10 shows_no_reply ||
  fail "without replies: meter greyed: $greyed; pixels changed where the 'No reply' note belongs: $note_px"
shows_l1() {
  shot "$WORK/responsive.png"
  read -r r g b <<<"$(mean_rgb "$WORK/responsive.png" 60x30+220+163)"
  ((r > g + 40))
}
xdotool keydown q
wait_for 5 shows_l1 || fail "window did not show L1 pressed while the robot was silent ($r $g $b)"
xdotool keyup q
kill -CONT "$SIM_PID"
fresh; wait_for 10 seen "^k " || fail "link did not go on after the robot came back"

note "disconnect while Q is held: the last message is the neutral frame"
xdotool keydown q
wait_for 5 last_is "k FF FF FB 81 80 80 80 F3" || fail "L1 not held before disconnect: $(last_msg)"
wait_for 5 holds_port || fail "the emulator does not hold the port while connected"
click_at 740 438
wait_for 10 released_port || fail "the port is still open after Disconnect"
xdotool keyup q
# The port is closed, so nothing follows what the simulator has still to read from the line.
wait_for 5 last_is "K FF FF FF 80 80 80 80 F3" || fail "last message was '$(last_msg)', not the neutral frame"

note "closing saves the settings"
close_emulator
grep -q "^\[SYSTEM\]" "$WORK/run/Zanth-Emulator.ini" || fail "settings not saved"
grep -q "^PORT=0" "$WORK/run/Zanth-Emulator.ini" || fail "port not saved"
echo "PASS"
