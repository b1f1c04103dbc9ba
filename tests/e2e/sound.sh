#!/usr/bin/env bash
# Sound effects through the real program and SDL's disk audio driver: a key press on a button with a WAV file
# puts sound into the driver's output; Sound Stop silences it.
source "$(dirname "$0")/lib.bash"

start_x
mkdir -p "$WORK/run/Data"
# Far longer than any wait below, so that only Sound Stop can silence it in time.
sox -q -n -r 22050 -c 1 -b 16 "$WORK/run/Data/tone.wav" synth 60 sine 440 vol 0.5
cat >"$WORK/run/Zanth-Emulator.ini" <<INI
[SOUND]
1_FILE=$WORK/run/Data/tone.wav
1_NAME=Tone
INI
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$WORK/audio.raw"
start_emulator --lang en

# Peak amplitude (in thousandths) of the last second the driver wrote (it writes silence while nothing plays),
# or "none" before it has written a second.
peak() {
  local size; size=$(stat -c %s "$WORK/audio.raw" 2>/dev/null || echo 0)
  ((size > 176400)) || { echo none; return; }
  tail -c 176400 "$WORK/audio.raw" >"$WORK/tail.raw"
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$WORK/tail.raw" -n stat 2>&1 | awk '/Maximum amplitude/{print int($3*1000)}'
}
loud() { local p; p=$(peak); [ "$p" != none ] && ((p > 100)); }
quiet() { local p; p=$(peak); [ "$p" != none ] && ((p < 5)); }

wait_for 10 quiet || fail "output not silent before any press (peak $(peak))"
note "press I (button 1)"
# Held until the sound is heard: the program reads the keyboard only while its window is active.
xdotool keydown i
wait_for 10 loud || fail "no sound while I is held (peak $(peak))"
xdotool keyup i
note "Sound Stop"
xdotool mousemove --window "$WID" 58 423 click 1
wait_for 10 quiet || fail "still sounding after Sound Stop (peak $(peak))"
close_emulator
echo "PASS"
