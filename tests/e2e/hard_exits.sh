#!/usr/bin/env bash
# Ended the hard ways while connected and with L1 held: the robot's last message is still the neutral frame.
# SIGHUP and SIGQUIT close the window the ordinary way (settings saved); the crash signals send the prepared
# message straight to the port and end the process as the signal would (nothing saved); losing the X server
# ends the program through Qt's exit(), which still closes the session in place (settings saved).
source "$(dirname "$0")/lib.bash"
ulimit -c 0

INI=$WORK/run/Zanth-Emulator.ini
NEUTRAL="K FF FF FF 80 80 80 80 F3"

# ended_with STATUS: waits for the program's end and checks how it ended and what the robot heard last.
ended_with() {
  local want=$1 status=0
  wait_for 15 exited "$EMU_PID" || fail "$what: the program did not end"
  wait "$EMU_PID" || status=$?
  [ "$status" = "$want" ] || fail "$what: exit status $status, not $want; log: $(tail -n 5 "$WORK/emulator.log")"
  # The program is gone, so nothing follows what the simulator has still to read from the line.
  last_neutral() { last=$(tail -n1 "$SIM_LOG" | cut -c1-25); [ "$last" = "$NEUTRAL" ]; }
  wait_for 5 last_neutral || fail "$what: last message was '$last', not the neutral frame"
}

saved() { grep -q "^\[JOYSTICK\]" "$INI"; }

start_x
start_sim --keep-open

for sig in HUP QUIT; do
  what=SIG$sig
  start_holding_l1
  kill -"$sig" "$EMU_PID"
  ended_with 0
  xdotool keyup q
  saved || fail "$what: settings not saved"
  note "$what: neutral frame last, settings saved"
done

for sig in SEGV ABRT BUS FPE; do
  what=SIG$sig
  start_holding_l1
  kill -"$sig" "$EMU_PID"
  ended_with $((128 + $(kill -l "$sig")))
  xdotool keyup q
  ! saved || fail "$what: settings were saved from a crash"
  note "$what: neutral frame last, ended by the signal"
done

what="X server killed"
start_holding_l1
kill -KILL "${PIDS[0]}"
ended_with 1
saved || fail "$what: settings not saved"
note "$what: neutral frame last, settings saved"
echo "PASS"
