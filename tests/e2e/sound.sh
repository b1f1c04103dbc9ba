#!/usr/bin/env bash
# Sound effects through the real program and SDL's disk audio driver: a key press on a button with a WAV file
# puts sound into the driver's output; Sound Stop silences it.
source "$(dirname "$0")/lib.bash"

start_x
mkdir -p "$WORK/run/Data"
sox -q -n -r 22050 -c 1 -b 16 "$WORK/run/Data/tone.wav" synth 5 sine 440 vol 0.5
cat >"$WORK/run/Zanth-Emulator.ini" <<INI
[SOUND]
1_FILE=$WORK/run/Data/tone.wav
1_NAME=Tone
INI
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$WORK/audio.raw"
start_emulator --lang en

# Peak amplitude of the last second the driver wrote (it writes silence while nothing plays).
peak() {
  local size; size=$(stat -c %s "$WORK/audio.raw" 2>/dev/null || echo 0)
  ((size > 176400)) || { echo 0; return; }
  tail -c 176400 "$WORK/audio.raw" >"$WORK/tail.raw"
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$WORK/tail.raw" -n stat 2>&1 | awk '/Maximum amplitude/{print int($3*1000)}'
}
loud() { (($(peak) > 100)); }
quiet() { (($(peak) < 5)); }

wait_for 10 quiet || fail "output not silent before any press (peak $(peak))"
note "press I (button 1)"
xdotool keydown i
sleep 0.3
xdotool keyup i
wait_for 10 loud || fail "no sound after the press (peak $(peak))"
note "Sound Stop"
xdotool mousemove --window "$WID" 58 423 click 1
wait_for 10 quiet || fail "still sounding after Sound Stop (peak $(peak))"
close_emulator
echo "PASS"
