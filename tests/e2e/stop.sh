#!/usr/bin/env bash
# The emergency stop, through the real event path: the stop key pressed while another X client has the focus
# stops the robot (only neutral frames) although a pad button stays held; keys, the pad and a remote client
# cannot drive meanwhile; the banner names who stopped it; Release asks and, answered, lets the robot drive only
# after the held button was let go of.
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
# Background input: the pad drives while another window has the focus, as the stop key must stop it then.
mkdir -p "$WORK/run"
printf '[SYSTEM]\nBACK=1\n' >"$WORK/run/Zanth-Emulator.ini"
start_emulator --lang en --remote="$port"

NEUTRAL="k FF FF FF 80 80 80 80 F3"
last() { tail -n1 "$SIM_LOG"; }
last_is() { last | grep -q -- "^$1"; }
fresh() { : >"$SIM_LOG"; }

note "connect, hold pad button 3 (item 1)"
click_at 740 438
wait_for 10 last_is "$NEUTRAL" || fail "no at-rest frame: $(last)"
echo "0 button 2 1" >&5
wait_for 5 last_is "k FF FF EF" || fail "the pad did not drive: $(last)"

note "another client takes the focus; the stop key reaches the program anyway"
xmessage -geometry +600+500 "another program" &
PIDS+=($!)
find_window 10 "^xmessage$" || fail "no xmessage window"
OTHER=$FOUND
timeout 10 xdotool windowfocus --sync "$OTHER" || fail "the other window did not take the focus"
fresh
wait_for 5 last_is "k FF FF EF" || fail "the pad does not drive in the background: $(last)"
xdotool key space
wait_for 5 last_is "$NEUTRAL" || fail "the stop key did not stop the robot: $(last)"
grep -q "emergency stop" "$WORK/emulator.log" || fail "the log does not name the stop"

note "while stopped nothing drives: the held pad button, a key, a remote client"
timeout 10 xdotool windowfocus --sync "$WID"
xdotool keydown u
"$PY" - "$WORK/run/remote.json" <<'PYEOF'
import asyncio, json, sys, websockets
async def main():
    info = json.load(open(sys.argv[1]))
    async with websockets.connect(info["ws"]) as ws:
        await ws.send(json.dumps({"v": 1, "type": "hello", "name": "phone", "token": info["token"]}))
        await ws.recv()
        await ws.send(json.dumps({"v": 1, "type": "press", "item": "L2"}))
        for _ in range(10):
            await ws.send(json.dumps({"v": 1, "type": "ping"}))
            await asyncio.sleep(0.1)
asyncio.run(main())
PYEOF
xdotool keyup u
fresh
sent_some() { (($(wc -l <"$SIM_LOG") >= 8)); }
wait_for 10 sent_some || fail "the link went quiet while stopped"
others=$(grep -vc -- "^$NEUTRAL" "$SIM_LOG" || true)
((others == 0)) || fail "$others frames other than neutral while stopped: $(grep -v -- "^$NEUTRAL" "$SIM_LOG" | head -3)"

note "the banner names the stop key"
shot "$WORK/stopped.png"
red=$(mean_rgb "$WORK/stopped.png" 400x20+110+15)
read -r r g b <<<"$red"
((r > 150 && g < 80 && b < 80)) || fail "no red banner: $red"

note "Release asks; No keeps the stop, Yes leaves it; the held button must be let go of first"
windows() { xdotool search --onlyvisible --pid "$EMU_PID" 2>/dev/null | wc -l; }
alone=$(windows)
asked() { (($(windows) > alone)); }
answered() { (($(windows) == alone)); }
# answer KEY: the question has the focus (No is its default): KEY answers it.
answer() {
  wait_for 10 asked || fail "Release did not ask"
  xdotool key "$1"
  wait_for 10 answered || fail "the question stayed after $1"
  # No window manager gives the focus back: the pad is read only while the window is active.
  timeout 10 xdotool windowfocus --sync "$WID" || fail "the window did not take the focus back"
}
click_at 590 25
answer Return
fresh
wait_for 5 sent_some || fail "the link went quiet"
last_is "$NEUTRAL" || fail "No released the stop: $(last)"
click_at 590 25
answer y
fresh
wait_for 5 sent_some || fail "the link went quiet"
last_is "$NEUTRAL" || fail "a button held through the stop drove at once: $(last)"
echo "0 button 2 0" >&5
# The banner names the sources to let go of; it goes once the last has been seen letting go.
banner_gone() {
  shot "$WORK/banner.png" && read -r r g b <<<"$(mean_rgb "$WORK/banner.png" 400x20+110+15)" && ((g > 180 && b > 180))
}
wait_for 5 banner_gone || fail "the banner stayed after letting go"
echo "0 button 2 1" >&5
wait_for 5 last_is "k FF FF EF" || fail "the pad did not drive again after letting go: $(last); log: $(grep -E "stop|driving" "$WORK/emulator.log" | tail -5)"

note "Enter disables, the Enable button enables once the button was let go of"
xdotool key Return
wait_for 5 last_is "$NEUTRAL" || fail "Enter did not disable: $(last)"
click_at 79 562
echo "0 button 2 0" >&5
wait_for 5 banner_gone || fail "the banner stayed after Enable"
echo "0 button 2 1" >&5
wait_for 5 last_is "k FF FF EF" || fail "the pad did not drive after Enable: $(last)"
echo "0 button 2 0" >&5
wait_for 5 last_is "$NEUTRAL" || fail "the pad did not let go: $(last)"

note "the key that answers Release (y, bound to PAD UP) does not come out as a tap"
xdotool key space
wait_for 5 grep -q "emergency stop by the stop key" "$WORK/emulator.log" || fail "no second stop"
click_at 590 25
fresh
answer y
wait_for 5 sent_some || fail "the link went quiet"
others=$(grep -vc -- "^$NEUTRAL" "$SIM_LOG" || true)
((others == 0)) || fail "the release drove: $(grep -v -- "^$NEUTRAL" "$SIM_LOG" | head -2)"
close_connected_emulator
