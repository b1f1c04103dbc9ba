#!/usr/bin/env bash
# SIGTERM while a modal box is open closes the boxes and ends the program the ordinary way: the About box and
# the question before quitting while connected (neutral frame last, settings saved), and the sound settings
# dialog with its file chooser open on top of it.
source "$(dirname "$0")/lib.bash"

INI=$WORK/run/Zanth-Emulator.ini
NEUTRAL="K FF FF FF 80 80 80 80 F3"
count_windows() { xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l; }

# Starts the program afresh, connected when $1 is 1.
start_program() {
  rm -f "$INI"
  start_emulator --lang en
  if (($1)); then
    click_at 740 438
    wait_for 10 grep -q "^k FF FF FF" "$SIM_LOG" || fail "$what: not connected"
  fi
}

# opens WAY...: does WAY (an xdotool command line) and waits until the program shows one more window.
opens() {
  local before
  before=$(count_windows)
  xdotool "$@"
  more() { (($(count_windows) > before)); }
  wait_for 10 more || fail "$what: '$*' opened no window"
}

# The program's newest window.
newest() { xdotool search --onlyvisible --pid "$EMU_PID" | sort -n | tail -n1; }
shows() { xdotool search --all --onlyvisible --pid "$EMU_PID" --name "$1" >/dev/null; }

ends_on_sigterm() {
  kill -TERM "$EMU_PID"
  wait_for 15 exited "$EMU_PID" || fail "$what: the program did not end on SIGTERM"
  local status=0
  wait "$EMU_PID" || status=$?
  [ "$status" = 0 ] || fail "$what: exit status $status"
  grep -q "^\[JOYSTICK\]" "$INI" || fail "$what: settings not saved"
}

last_neutral() { [ "$(tail -n1 "$SIM_LOG" | cut -c1-25)" = "$NEUTRAL" ]; }

start_x
start_sim --keep-open

what="About box"
start_program 1
xdotool key F1 key a   # the help menu, then its About entry
wait_for 10 shows "^About" || fail "no About box"
ends_on_sigterm
wait_for 5 last_neutral || fail "$what: last message $(tail -n1 "$SIM_LOG")"
note "$what: closed, neutral frame last, settings saved"

what="quit question"
start_program 1
opens key Escape
ends_on_sigterm
wait_for 5 last_neutral || fail "$what: last message $(tail -n1 "$SIM_LOG")"
note "$what: closed, neutral frame last, settings saved"

what="sound settings and file chooser"
start_program 0
opens mousemove --window "$WID" 58 396 click 1      # Sound Setting
opens mousemove --window "$(newest)" 658 374 click 1  # Reference (browse) in the dialog
ends_on_sigterm
note "$what: closed, settings saved"
echo "PASS"
