#!/usr/bin/env bash
# Escape while connected asks first ("No" is the default and keeps driving); "Yes" ends the program with the
# neutral frame. While disconnected Escape closes at once (every other script ends so).
source "$(dirname "$0")/lib.bash"

start_x
start_sim --keep-open
start_emulator --lang en
click_at 740 438
wait_for 10 grep -q "^k FF FF FF 80 80 80 80" "$SIM_LOG" || fail "not connected"
count_windows() { xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l; }
alone=$(count_windows)
asking() { (($(count_windows) > alone)); }
answered() { (($(count_windows) == alone)); }

xdotool key Escape
wait_for 5 asking || fail "Escape while connected did not ask"
xdotool key Return
wait_for 5 answered || fail "the question did not go away on Return"
exited "$EMU_PID" && fail "the default answer ended the program"
lines=$(wc -l <"$SIM_LOG")
more_sent() { (($(wc -l <"$SIM_LOG") > lines)); }
wait_for 5 more_sent || fail "nothing sent after the default answer"

timeout 10 xdotool windowfocus --sync "$WID" key Escape
wait_for 5 asking || fail "Escape did not ask again"
xdotool key y
wait_for 15 exited "$EMU_PID" || fail "Yes did not end the program"
last_neutral() { [ "$(tail -n1 "$SIM_LOG" | cut -c1-25)" = "K FF FF FF 80 80 80 80 F3" ]; }
wait_for 5 last_neutral || fail "last message $(tail -n1 "$SIM_LOG"), not the neutral frame"
echo "PASS"
