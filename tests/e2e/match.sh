#!/usr/bin/env bash
# A ten-second practice match through the real program, SDL's disk audio driver and the simulator: the
# countdown holds the robot although a pad button is held, each phase begins with its sound, the drive phases
# drive, the end stops the robot (only neutral frames), and the drive is recorded to a file named after the
# match, which closes whole; the log sums the match up.
source "$(dirname "$0")/lib.bash"

start_x
start_sim --keep-open
mkdir -p "$WORK/run/Data"
sox -q -n -r 22050 -c 1 -b 16 "$WORK/run/Data/tone.wav" synth 0.4 sine 440 vol 0.5
# No background input: while a match runs its dialog counts as the program's window, so the pad drives.
cat >"$WORK/run/Zanth-Emulator.ini" <<INI
[SOUND]
1_FILE=$WORK/run/Data/tone.wav
[MATCH]
NAME=Final
PHASES=3
PHASE1=Countdown,2,0,0
PHASE2=Drive,5,0,1
PHASE3=Endgame,3,0,1
INI
mkfifo "$WORK/pads"
export ZANTH_VIRTUAL_PADS="Pad A@7a01:0001" ZANTH_VIRTUAL_PAD_INPUT=$WORK/pads
exec 5<>"$WORK/pads"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$WORK/audio.raw"
# The match's start, end and summary are logged at the info level.
export QT_LOGGING_RULES="zanth.control.info=true"
start_emulator --lang en

NEUTRAL="k FF FF FF 80 80 80 80 F3"
last_is() { tail -n1 "$SIM_LOG" | grep -q -- "^$1"; }
click_at 740 438
wait_for 10 last_is "$NEUTRAL" || fail "not connected: $(tail -n1 "$SIM_LOG")"
echo "0 button 2 1" >&5
wait_for 5 last_is "k FF FF EF" || fail "the pad did not drive"

note "Practice Match... from the menu, Start"
audio_before=$(stat -c %s "$WORK/audio.raw")
xdotool key F1
find_window 5 "^Zanth" >/dev/null
xdotool key m
find_window 10 "^Practice Match$" || fail "no match dialog"
DIALOG=$FOUND
timeout 10 xdotool windowfocus --sync "$DIALOG" key Return  # Start is the default button
wait_for 5 grep -q "match started: Final" "$WORK/emulator.log" || fail "the match did not start: $(tail -3 "$WORK/emulator.log")"
wait_for 3 last_is "$NEUTRAL" || fail "the countdown did not hold the robot: $(tail -n1 "$SIM_LOG")"
wait_for 10 last_is "k FF FF EF" || fail "the drive phase did not drive"
wait_for 15 grep -q "match ended" "$WORK/emulator.log" || fail "the match did not end"
wait_for 3 last_is "$NEUTRAL" || fail "the end did not stop the robot: $(tail -n1 "$SIM_LOG")"
grep -q "emergency stop" "$WORK/emulator.log" || fail "the end was no stop"
grep -q "Match Final: drive 0:0" "$WORK/emulator.log" || fail "no summary: $(tail -3 "$WORK/emulator.log")"

note "three phases, three sounds"
bursts=$(tail -c +"$((audio_before + 1))" "$WORK/audio.raw" | /usr/bin/python3 -c '
import sys, array
pcm = array.array("h", sys.stdin.buffer.read())
window, loud, bursts = 4410 * 2, False, 0  # 50 ms of stereo frames
for i in range(0, len(pcm) - window, window):
    now = max(abs(v) for v in pcm[i:i + window]) > 3000
    bursts += now and not loud
    loud = now
print(bursts)')
((bursts == 3)) || fail "$bursts sounds for three phases"

note "the recording is named after the match and closed whole"
recording=$(ls "$WORK/run/Data"/Final\ 20*.zsr 2>/dev/null | head -n1)
[ -n "$recording" ] || fail "no recording named after the match: $(ls "$WORK/run/Data")"
tail -n1 "$recording" | grep -q "^end" || fail "the recording was not closed: $(tail -n1 "$recording")"
echo "0 button 2 0" >&5
close_connected_emulator
