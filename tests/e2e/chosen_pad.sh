#!/usr/bin/env bash
# The pad chosen in the settings drives the robot and no other does, also after replugging; it rumbles when
# the battery turns red and when the port is lost. Pads of the program's own making (ZANTH_VIRTUAL_PADS).
source "$(dirname "$0")/lib.bash"

start_x
echo 70 >"$WORK/level"
start_sim --level-file "$WORK/level" --keep-open
mkfifo "$WORK/pads"
export ZANTH_VIRTUAL_PADS="Pad A@7a01:0001;Pad B@7a01:0002" ZANTH_VIRTUAL_PAD_INPUT=$WORK/pads
exec 5<>"$WORK/pads"
pad() { echo "$*" >&5; }

last_msg() { tail -n1 "$SIM_LOG" 2>/dev/null | cut -c1-25; }
seen() { grep -q -- "$1" "$SIM_LOG" 2>/dev/null; }
rest="k FF FF FF 80 80 80 80 F3"
moved() { [ -n "$(last_msg)" ] && [ "$(last_msg)" != "$rest" ]; }
messages() { wc -l <"$SIM_LOG"; }
grown() { (($(messages) >= $1)); }
rumbles() { grep -c "virtual pad 1: rumble [1-9]" "$WORK/emulator.log" || true; }

note "first run: any pad; the second pad's GUID from the program"
start_emulator --lang en
guid=$(sed -n 's/^virtual pad 1: \([0-9a-f]\{32\}\) Pad B$/\1/p' "$WORK/emulator.log")
[ -n "$guid" ] || fail "no GUID for pad 1: $(head -c 1000 "$WORK/emulator.log")"
close_emulator
"$ZANTH_BIN/tools/ini_tool/zanth-ini" "$WORK/run/Zanth-Emulator.ini" SYSTEM PADGUID "$guid"
"$ZANTH_BIN/tools/ini_tool/zanth-ini" "$WORK/run/Zanth-Emulator.ini" SYSTEM PADNAME "Pad B"

note "pad B chosen: pad A's presses never reach the robot"
start_emulator --lang en
click_at 740 438
wait_for 10 seen "^k FF FF FF 80 80 80 80 F3" || fail "not connected"
pad 0 button 2 1
pad 0 axis 0 32767
from=$(messages)
wait_for 10 grown $((from + 10)) || fail "the link stopped"
tail -n +"$((from + 1))" "$SIM_LOG" | cut -c1-25 | grep -v -x "$rest" && fail "pad A drove the robot"
pad 1 button 2 1
wait_for 5 moved || fail "pad B did not drive the robot: $(last_msg)"
pad 1 button 2 0
at_rest() { [ "$(last_msg)" = "$rest" ]; }
wait_for 5 at_rest || fail "pad B's button not released: $(last_msg)"

note "pad B unplugged: the status names it; plugged back after pad A, it drives again"
pad 1 unplug
pad 0 unplug
pad 0 plug
pad 0 button 2 1
from=$(messages)
wait_for 10 grown $((from + 5)) || fail "the link stopped"
shot "$WORK/absent.png"
[ "$(last_msg)" = "$rest" ] || fail "pad A drives while pad B is away: $(last_msg)"
pad 1 plug
pad 1 button 3 1
wait_for 5 moved || fail "pad B not found again: $(last_msg)"
pad 1 button 3 0

note "rumble: once when the battery turns red, twice when the port is lost"
[ "$(rumbles)" = 0 ] || fail "rumbled before anything happened"
echo 60 >"$WORK/level"
rumbled() { (($(rumbles) == $1)); }
wait_for 10 rumbled 1 || fail "no pulse on a red meter: $(rumbles)"
kill "$SIM_PID"
wait_for 10 rumbled 3 || fail "no double pulse on a lost port: $(rumbles)"
close_connected_emulator
