#!/usr/bin/env bash
# A recording as a user makes and plays it: Record from the F1 menu shows a red REC mark on the picture and
# writes the drive as it goes, so that the program killed with SIGKILL leaves a file that plays; played in a
# new run, it shows PLAY, the robot gets the recorded L1 again, and the window says how it ended. Screenshots
# of the marks go to ZANTH_SHOTS when it is set.
source "$(dirname "$0")/lib.bash"

start_x
start_sim --keep-open
OUT=${ZANTH_SHOTS:-$WORK}
export QT_LOGGING_RULES="zanth.control.info=true"
DATA=$WORK/run/Data

since=0
mark() { since=$(wc -l <"$SIM_LOG"); }
newest_is() { tail -n +"$((since + 1))" "$SIM_LOG" | tail -n1 | grep -q -- "^$1"; }
seen_since() { tail -n +"$((since + 1))" "$SIM_LOG" | grep -q -- "^$1"; }
# The mark's box above the sound list: red (REC) or blue (PLAY).
mark_is() {  # predicate on r g b, file
  shot "$OUT/$2"
  read -r r g b <<<"$(mean_rgb "$OUT/$2" 60x20+20+15)"
  eval "$1"
}
windows() { xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l; }
# menu_file DOWNS TITLE TYPED: the F1 menu's entry that many steps down, then its file chooser (named TITLE),
# answered with TYPED and Return.
menu_file() {
  local alone downs=$1 title=$2 typed=$3 chooser
  alone=$(windows)
  timeout 10 xdotool windowfocus --sync "$WID" key F1
  more() { (($(windows) > alone)); }
  wait_for 10 more || fail "no menu after F1"
  # shellcheck disable=SC2046
  xdotool key $(printf 'Down %.0s' $(seq "$downs")) Return
  find_window 10 "$title"
  chooser=$FOUND
  [ -n "$chooser" ] || fail "no file chooser named $title"
  timeout 10 xdotool windowfocus --sync "$chooser"
  [ -z "$typed" ] || xdotool type --delay 20 "$typed"
  xdotool key Return
  closed() { ! xdotool search --onlyvisible --name "$title" >/dev/null 2>&1; }
  wait_for 10 closed || fail "the file chooser stayed"
}
connect() {
  mark
  click_at 740 438
  wait_for 10 newest_is "k FF FF FF 80 80 80 80 F3" || fail "not connected"
}

note "record a drive with L1, then kill the program"
start_emulator --lang en
connect
menu_file 5 "Record" ""
wait_for 10 mark_is '((r > 150 && g < 80))' rec-en.png || fail "no red REC mark (rgb $r $g $b)"
timeout 10 xdotool windowfocus --sync "$WID" keydown q
mark
wait_for 5 newest_is "k FF FF FB" || fail "L1 not sent while recording"
held_sent() { (($(tail -n +"$((since + 1))" "$SIM_LOG" | grep -c -- "^k FF FF FB") >= 12)); }
wait_for 10 held_sent || fail "L1 not held long enough"
xdotool keyup q
mark
wait_for 5 newest_is "k FF FF FF" || fail "L1 not let go"
# The recorder hands its lines over once a second: kill once the file holds the held drive.
held_saved() { (($(cat "$DATA"/*.zsr 2>/dev/null | grep -c $'\t6B FF FF FB') >= 10)); }
wait_for 10 held_saved || fail "the held drive never reached the file"
kill -KILL "$EMU_PID"
wait_for 10 exited "$EMU_PID" || fail "the program outlived SIGKILL"
FILE=$(ls "$DATA"/*.zsr 2>/dev/null | head -n1)
[ -n "$FILE" ] || fail "no recording in $DATA"
held=$(grep -c $'\t6B FF FF FB' "$FILE" || true)
((held >= 10)) || fail "the recording lost the drive: $held L1 messages in $FILE"
! grep -q '^end' "$FILE" || fail "a killed recording has a closing line"

note "play it in a new run"
start_emulator --lang en
connect
mark
menu_file 6 "Play" "$(basename "$FILE")"
wait_for 10 mark_is '((b > 150 && r < 80))' play-en.png || fail "no PLAY mark (rgb $r $g $b)"
wait_for 10 seen_since "k FF FF FB" || fail "the recorded L1 did not reach the robot"
grep -q "Recording cut short" "$WORK/emulator.log" || fail "the window did not say the file was cut short"
finished() { grep -q "playback ended: Playback finished" "$WORK/emulator.log"; }
wait_for 30 finished || fail "playback did not finish: $(tail -n 3 "$WORK/emulator.log")"
gone() { ! mark_is '(((r > 150 && g < 80) || (b > 150 && r < 80 && g < 140)))' after-en.png; }
wait_for 5 gone || fail "a mark stayed after playback (rgb $r $g $b)"
close_connected_emulator
