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
l1_sent() { tail -n1 "$SIM_LOG" | grep -q '^k FF FF FB'; }
wait_for 5 l1_sent || fail "L1 not sent: $(tail -n1 "$SIM_LOG")"
kill -TERM "$EMU_PID"
wait_for 15 exited "$EMU_PID" || fail "the emulator did not end on SIGTERM"
xdotool keyup q
# The program is gone, so nothing follows what the simulator has still to read from the line.
last_neutral() { last=$(tail -n1 "$SIM_LOG" | cut -c1-25); [ "$last" = "K FF FF FF 80 80 80 80 F3" ]; }
wait_for 5 last_neutral || fail "last message was '$last', not the neutral frame"
grep -q "^\[JOYSTICK\]" "$WORK/run/Zanth-Emulator.ini" || fail "settings not saved on SIGTERM"
echo "PASS"
