#!/usr/bin/env bash
# A press far shorter than the time between two messages reaches the robot, from every source: a key (XTest
# press and release at once), a click on the picture, a pad button (the program's own virtual pads) and a
# remote client's press and release sent together.
source "$(dirname "$0")/lib.bash"

PY=/usr/bin/python3
[ -x "$PY" ] || PY=$(command -v python3)
"$PY" -c "import websockets" 2>/dev/null || fail "python3-websockets is not installed"

start_x
start_sim --keep-open
mkfifo "$WORK/pads"
export ZANTH_VIRTUAL_PADS="Pad A@7a01:0001" ZANTH_VIRTUAL_PAD_INPUT=$WORK/pads
exec 5<>"$WORK/pads"
port=$("$PY" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_emulator --lang en --remote="$port"

seen() { grep -q -- "$1" "$SIM_LOG" 2>/dev/null; }
fresh() { : >"$SIM_LOG"; }

remote_tap() {
  "$PY" - "$WORK/run/remote.json" "$1" <<'PYEOF'
import asyncio, json, sys, websockets

async def main():
    info = json.load(open(sys.argv[1]))
    async with websockets.connect(info["ws"]) as ws:
        await ws.send(json.dumps({"v": 1, "type": "hello", "name": "taps", "token": info["token"]}))
        await ws.recv()
        await ws.send(json.dumps({"v": 1, "type": "press", "item": sys.argv[2]}))
        await ws.send(json.dumps({"v": 1, "type": "release", "item": sys.argv[2]}))

asyncio.run(main())
PYEOF
}

note "connect"
click_at 740 438
wait_for 10 seen "^k FF FF FF 80 80 80 80 F3" || fail "no at-rest frame; log: $(head -3 "$SIM_LOG")"
wait_for 10 test -s "$WORK/run/remote.json" || fail "no remote.json"

# source, what taps, the message that carries the tap
taps=(
  "key|xdotool keydown u keyup u|k FF FF F7 80 80 80 80 F3"
  "mouse|click_at 378 382|k FF FE FF 80 80 80 80 F3"
  "pad|echo -e '0 button 2 1\n0 button 2 0' >&5|k FF FF EF 80 80 80 80 F3"
  "remote|remote_tap L2|k FF FF FE 80 80 80 80 F3"
)
for row in "${taps[@]}"; do
  IFS='|' read -r source tap frame <<<"$row"
  for n in 1 2 3; do
    note "$source tap $n"
    fresh
    eval "$tap"
    wait_for 10 seen "^$frame" || fail "$source tap $n never reached the robot: $(sort "$SIM_LOG" | uniq -c | head)"
  done
  # Let go again: the messages after it are at rest.
  fresh
  wait_for 5 seen "^k FF FF FF 80 80 80 80 F3" || fail "$source tap stayed on: $(tail -n1 "$SIM_LOG")"
done

close_connected_emulator
echo "PASS"
