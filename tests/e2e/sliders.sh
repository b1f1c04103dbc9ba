#!/usr/bin/env bash
# The right-stick sliders under a real mouse: a wheel turned past a slider's end still centres it 300 ms
# later (Self Neutral), and a right click on a slider centres it instead of opening the help menu.
source "$(dirname "$0")/lib.bash"

start_x
start_sim --keep-open
start_emulator --lang en
click_at 740 438
wait_for 10 grep -q "^k FF FF FF 80 80 80 80" "$SIM_LOG" || fail "not connected"
last_msg() { tail -n1 "$SIM_LOG" | cut -c1-25; }
rx() { last_msg | cut -d' ' -f5; }
rx_is() { [ "$(rx)" = "$1" ]; }

note "wheel past the end"
click_at 401 498                        # Self Neutral
xdotool mousemove --window "$WID" 463 567 click --repeat 50 --delay 5 5
# RX reaches its end while the wheel turns on; the end turns are handed to the window by the slider.
wait_for 5 rx_is 80 || fail "RX not centred after the wheel stopped: $(last_msg)"
grep -q "^k FF FF FF FF 80 80 80\|^k FF FF FF 00 80 80 80" "$SIM_LOG" || fail "the wheel never reached the slider's end"

note "right click"
click_at 401 498                        # Self Neutral off: only the right button centres now
xdotool mousemove --window "$WID" 463 567 click --repeat 10 --delay 5 4
wait_for 5 eval '[ "$(rx)" != 80 ]' || fail "the wheel did not move the slider: $(last_msg)"
windows_before=$(xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l)
xdotool click 3
wait_for 5 rx_is 80 || fail "a right click did not centre the slider: $(last_msg)"
windows_after=$(xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l)
[ "$windows_after" = "$windows_before" ] || fail "a menu opened on the slider ($windows_before -> $windows_after windows)"

note "the menu stays on the picture"
xdotool mousemove --window "$WID" 700 320 click 3
menu_open() { (($(xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l) > windows_before)); }
wait_for 5 menu_open || fail "no help menu on the picture"
xdotool key Escape
echo "PASS"
