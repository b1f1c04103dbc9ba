#!/usr/bin/env bash
# The Python example client against the real program and the simulated robot: it finds the server through
# remote.json, drives the left stick round a figure-of-eight, and leaves the robot with the stick centred; then
# the program closes with idle connections on the remote port, whole, with every setting saved.
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
# Run from the portable folder without arguments: it finds the program of ./Zanth-Emulator.ini.
(cd "$WORK/run" && timeout 60 "$PY" "$ZANTH_SRC/examples/remote_figure_eight.py" --laps 1 \
  --seconds-per-lap 3) >"$WORK/example.log" 2>&1 || fail "the example failed: $(cat "$WORK/example.log")"
# The left stick's bytes (x then y, the 6th and 7th of the frame) went to both ends of both axes.
sticks=$(awk '{print $7, $8}' "$SIM_LOG")
reached() { grep -Eq "$1" <<<"$sticks"; }
reached '^(F|E)[0-9A-F] ' || fail "x never went right: $(sort -u <<<"$sticks" | head)"
reached '^(0|1)[0-9A-F] ' || fail "x never went left"
reached ' (F|E|D)[0-9A-F]$' || fail "y never went down"
reached ' (0|1|2)[0-9A-F]$' || fail "y never went up"
last_centred() { tail -n1 "$SIM_LOG" | grep -q '^k FF FF FF 80 80 80 80'; }
wait_for 5 last_centred || fail "the stick was left off centre: $(tail -n1 "$SIM_LOG")"

note "closing with idle connections on the remote port (as a browser's preconnect leaves them)"
"$PY" - "$port" <<'PYEOF' &
import socket, sys, time
held = []
while True:  # three idle connections, each opened afresh as the server lets it go
    held = [s for s in held if s.fileno() >= 0]
    while len(held) < 3:
        try:
            held.append(socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1))
        except OSError:
            break
    time.sleep(0.1)
    for s in list(held):
        s.setblocking(False)
        try:
            if s.recv(1) == b"":
                s.close()
                held.remove(s)
        except BlockingIOError:
            pass
        except OSError:
            s.close()
            held.remove(s)
PYEOF
IDLE_PID=$!
lines_before=$(wc -l <"$WORK/run/Zanth-Emulator.ini")
close_connected_emulator
status=0
wait "$EMU_PID" || status=$?
kill "$IDLE_PID" 2>/dev/null || true
wait "$IDLE_PID" 2>/dev/null || true
[ "$status" = 0 ] || fail "closing with an idle connection ended with status $status"
# The whole settings file was saved: every setting, not the few lines the test started with.
lines=$(wc -l <"$WORK/run/Zanth-Emulator.ini")
((lines > lines_before + 50)) || fail "settings file cut short at close: $lines lines"
[ ! -e "$INFO" ] || fail "remote.json left behind after exit"
echo "remote example ok"
