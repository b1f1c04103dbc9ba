#!/usr/bin/env bash
# The link monitor while driving, in both languages: opened from the F1 menu, it lists the messages as they go
# out, and keys typed while it is the active window drive; beside the meter the battery level reads as a number and the lamp blinks with the messages, red once the
# port is lost. Screenshots of the monitor go to ZANTH_SHOTS when it is set.
source "$(dirname "$0")/lib.bash"

start_x
echo 71 >"$WORK/level"
start_sim --level-file "$WORK/level" --keep-open
OUT=${ZANTH_SHOTS:-$WORK}

seen() { grep -q -- "$1" "$SIM_LOG" 2>/dev/null; }
lamp() { read -r r g b <<<"$(mean_rgb "$1" 6x6+167+228)"; }
# A few shots of the lamp a tick apart: lit and dark both seen.
blinks() {
  local lit=0 dark=0 i
  for i in 1 2 3 4 5 6 7 8; do
    shot "$WORK/lamp.png"
    lamp "$WORK/lamp.png"
    if ((g > 180 && r < 120)); then lit=1; elif ((g < 130)); then dark=1; fi
    sleep 0.03
  done
  ((lit && dark))
}
# The number left of the meter: dark pixels where the window's background was at start.
shows_number() {
  shot "$WORK/number.png"
  convert "$WORK/number.png" -crop 40x21+180+220 +repage "$WORK/number-now.png"
  changed=$(compare -metric AE -fuzz 25% "$WORK/number-before.png" "$WORK/number-now.png" null: 2>&1 || true)
  [[ "$changed" =~ ^[0-9]+$ ]] && ((changed > 20))
}

run_language() {  # lang, title of the monitor
  local lang=$1 title=$2
  : >"$SIM_LOG"
  start_emulator --lang "$lang"
  shot "$WORK/start.png"
  convert "$WORK/start.png" -crop 40x21+180+220 +repage "$WORK/number-before.png"

  note "$lang: connect and drive"
  click_at 740 438
  wait_for 10 seen "^k FF FF FF 80 80 80 80 F3" || fail "no message on the wire"
  wait_for 10 shows_number || fail "no battery number beside the meter ($changed pixels)"
  wait_for 10 blinks || fail "the lamp does not blink with the messages (last rgb $r $g $b)"
  timeout 10 xdotool windowfocus --sync "$WID" keydown q

  note "$lang: the monitor from the F1 menu"
  local alone
  alone=$(xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l)
  menu_open() { (($(xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l) > alone)); }
  xdotool key F1
  wait_for 10 menu_open || fail "no menu after F1"
  xdotool key Down Down Down Return
  find_window 10 "$title"
  MID=$FOUND
  [ -n "$MID" ] || fail "no monitor window named $title"
  # Keys go on driving while the monitor is the active window, after a click in its rows too: L1 let go
  # and held again there reaches the robot.
  xdotool mousemove --window "$MID" 300 200 click 1
  timeout 10 xdotool windowfocus --sync "$MID" keyup q
  since=$(wc -l <"$SIM_LOG")
  newest_is() { tail -n +"$((since + 1))" "$SIM_LOG" | tail -n1 | grep -q -- "^$1"; }
  wait_for 5 newest_is "k FF FF FF 80 80 80 80 F3" || fail "L1 not let go in the monitor"
  xdotool keydown q
  since=$(wc -l <"$SIM_LOG")
  wait_for 5 newest_is "k FF FF FB 80 80 80 80 F3" || fail "L1 held in the monitor not sent"
  [ "$(xdotool getwindowfocus)" = "$MID" ] || fail "the monitor did not keep the focus"
  # The monitor pulls its rows four times a second: wait for them rather than for a fixed time.
  filled() {
    import -window "$MID" "$OUT/monitor-$lang.png" &&
      [ "$(convert "$OUT/monitor-$lang.png" -format "%[fx:standard_deviation > 0.05]" info:)" = 1 ]
  }
  wait_for 10 filled || fail "the monitor looks empty"
  xdotool keyup q
}

run_language en "Link Monitor"
close_connected_emulator
run_language ja "リンクモニタ"

note "port lost: the lamp turns red"
kill -KILL "$SIM_PID"
xdotool windowraise "$WID"  # from under the monitor
is_red() {
  shot "$WORK/lost.png"
  lamp "$WORK/lost.png"
  ((r > 180 && g < 80))
}
wait_for 10 is_red || fail "the lamp is not red after the port was lost (rgb $r $g $b)"
close_connected_emulator
