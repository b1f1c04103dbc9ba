#!/usr/bin/env bash
# The Python example client against the real program and the simulated robot: it finds the server through
# remote.json, drives the left stick round a figure-of-eight, and leaves the robot with the stick centred.
source "$(dirname "$0")/lib.bash"

# Debian's interpreter, which has python3-websockets.
PY=/usr/bin/python3
[ -x "$PY" ] || PY=$(command -v python3)
"$PY" -c "import websockets" 2>/dev/null || fail "python3-websockets is not installed"
port=$("$PY" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

start_x
start_sim --keep-open
start_emulator --lang en --remote="$port"
INFO=$WORK/run/remote.json
wait_for 10 test -s "$INFO" || fail "no remote.json; log: $(head -c 2000 "$WORK/emulator.log")"
[ "$(stat -c %a "$INFO")" = 600 ] || fail "remote.json is readable by others: $(stat -c %a "$INFO")"

note "connect"
click_at 740 438
seen() { grep -q -- "$1" "$SIM_LOG" 2>/dev/null; }
wait_for 10 seen "^k FF FF FF 80 80 80 80" || fail "not connected; log: $(head -3 "$SIM_LOG")"

note "the example drives a figure-of-eight"
: >"$SIM_LOG"
timeout 60 "$PY" "$ZANTH_SRC/examples/remote_figure_eight.py" --info "$INFO" --laps 1 \
  --seconds-per-lap 3 >"$WORK/example.log" 2>&1 || fail "the example failed: $(cat "$WORK/example.log")"
# The left stick's bytes (x then y, the 6th and 7th of the frame) went to both ends of both axes.
sticks=$(awk '{print $7, $8}' "$SIM_LOG")
reached() { grep -Eq "$1" <<<"$sticks"; }
reached '^(F|E)[0-9A-F] ' || fail "x never went right: $(sort -u <<<"$sticks" | head)"
reached '^(0|1)[0-9A-F] ' || fail "x never went left"
reached ' (F|E|D)[0-9A-F]$' || fail "y never went down"
reached ' (0|1|2)[0-9A-F]$' || fail "y never went up"
last_centred() { tail -n1 "$SIM_LOG" | grep -q '^k FF FF FF 80 80 80 80'; }
wait_for 5 last_centred || fail "the stick was left off centre: $(tail -n1 "$SIM_LOG")"

close_connected_emulator
[ ! -e "$INFO" ] || fail "remote.json left behind after exit"
echo "remote example ok"
