#!/usr/bin/env bash
# Ended by SIGTERM while connected and while a button is held: the program still leaves the robot with the
# neutral frame, saves its settings and exits with status 0. A storm of termination signals that goes on
# through the save (held back on purpose by ZANTH_SIGNAL_CLOSE_DELAY_MS) and past the program's end changes
# none of that.
source "$(dirname "$0")/lib.bash"

INI=$WORK/run/Zanth-Emulator.ini

# ended_cleanly: the program ended with status 0, the robot heard the neutral frame last, settings saved.
ended_cleanly() {
  local status=0
  wait_for 15 exited "$EMU_PID" || fail "$what: the program did not end"
  wait "$EMU_PID" || status=$?
  xdotool keyup q
  [ "$status" = 0 ] || fail "$what: exit status $status; log: $(tail -n 5 "$WORK/emulator.log")"
  # The program is gone, so nothing follows what the simulator has still to read from the line.
  last_neutral() { last=$(tail -n1 "$SIM_LOG" | cut -c1-25); [ "$last" = "K FF FF FF 80 80 80 80 F3" ]; }
  wait_for 5 last_neutral || fail "$what: last message was '$last', not the neutral frame"
  grep -q "^\[JOYSTICK\]" "$INI" || fail "$what: settings not saved"
  note "$what: neutral frame last, settings saved, status 0"
}

start_x
start_sim --keep-open

what=SIGTERM
start_holding_l1
kill -TERM "$EMU_PID"
ended_cleanly

what="signal storm"
export ZANTH_SIGNAL_CLOSE_DELAY_MS=300
start_holding_l1
unset ZANTH_SIGNAL_CLOSE_DELAY_MS
# As fast as the shell can send them, until the process is gone (and reaped), at most 15 s.
sigs=(TERM HUP INT)
sent=0
end=$(($(now_us) + 15000000))
while kill -"${sigs[sent % 3]}" "$EMU_PID" 2>/dev/null && (($(now_us) < end)); do sent=$((sent + 1)); done
note "$what: $sent signals sent"
ended_cleanly
echo "PASS"
