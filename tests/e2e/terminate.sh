#!/usr/bin/env bash
# Ended by SIGTERM while connected and while a button is held: the program still leaves the robot with the
# neutral frame and saves its settings.
source "$(dirname "$0")/lib.bash"

start_x
start_sim --keep-open
start_emulator --lang en
click_at 740 438
wait_for 10 grep -q "^k FF FF FF" "$SIM_LOG" || fail "not connected"
xdotool keydown q
wait_for 5 bash -c "tail -n1 '$SIM_LOG' | grep -q '^k FF FF FB'" || fail "L1 not sent"
kill -TERM "$EMU_PID"
wait_for 15 bash -c "! kill -0 $EMU_PID 2>/dev/null" || fail "the emulator did not end on SIGTERM"
xdotool keyup q
last=$(tail -n1 "$SIM_LOG" | cut -c1-25)
[ "$last" = "K FF FF FF 80 80 80 80 F3" ] || fail "last message was '$last', not the neutral frame"
grep -q "^\[JOYSTICK\]" "$WORK/run/Zanth-Emulator.ini" || fail "settings not saved on SIGTERM"
echo "PASS"
