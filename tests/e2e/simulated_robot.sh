#!/usr/bin/env bash
# The bundled simulator as a user without a robot meets it: "Simulated robot" at the end of the port list,
# Connect, and a key's press is in the simulator's log in the Data folder; the simulator ends with the program,
# also when the program is killed.
source "$(dirname "$0")/lib.bash"

start_x
export ZANTH_ROBOT_SIM=$ZANTH_BIN/tools/robot_sim/zanth-robot-sim
LOG=$WORK/run/Data/robot-sim.log
simulators() { pgrep -f -- "--log $LOG" || true; }

note "choose Simulated robot, connect, press L1"
start_emulator --lang en
click_at 740 398  # the port list
xdotool key End Return
click_at 740 438  # Connect
connected() { [ -s "$LOG" ]; }
wait_for 10 connected || fail "nothing reached the simulator; log: $(tail -c 1000 "$WORK/emulator.log")"
timeout 10 xdotool windowfocus --sync "$WID" keydown q
held() { grep -q "buttons: L1 " "$LOG"; }
wait_for 5 held || fail "L1 never reached the simulator: $(tail -n 3 "$LOG")"
xdotool keyup q
[ -n "$(simulators)" ] || fail "no simulator process for $LOG"

note "killed, the program takes its simulator with it"
kill -KILL "$EMU_PID"
gone() { [ -z "$(simulators)" ]; }
wait_for 5 gone || fail "the simulator outlived the program: $(simulators)"
echo "ok"
