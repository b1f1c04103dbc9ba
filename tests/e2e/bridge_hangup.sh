#!/usr/bin/env bash
# A network bridge whose serial device is missing accepts every connection and hangs up at once (ser2net does
# so when the adapter behind it is unplugged). The window says it is reconnecting and tries about once a
# second, with little CPU and a log that does not grow with the tries, keeping the reason the bridge gives;
# once the device appears behind the bridge, the robot gets messages again without a click.
source "$(dirname "$0")/lib.bash"
command -v ser2net >/dev/null || fail "ser2net is not installed"

DEVICE=$WORK/robot-serial
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$WORK/ser2net.yaml" <<YAML
connection: &robot
  accepter: tcp,127.0.0.1,$PORT
  connector: serialdev,$DEVICE,9600n81,local
YAML
ser2net -n -u -c "$WORK/ser2net.yaml" -P "$WORK/ser2net.pid" >"$WORK/ser2net.log" 2>&1 &
PIDS+=($!)
bridge_up() { python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT), 1).close()" 2>/dev/null; }
wait_for 10 bridge_up || fail "ser2net did not listen; log: $(head -c 1000 "$WORK/ser2net.log")"

start_x
mkdir -p "$WORK/run"
"$ZANTH_BIN/tools/ini_tool/zanth-ini" "$WORK/run/Zanth-Emulator.ini" PORTS COM1 "tcp://127.0.0.1:$PORT"
# The tries are logged at the debug level only; the default log is what a user's terminal gets.
export QT_LOGGING_RULES="zanth.control.debug=true" QT_MESSAGE_PATTERN="%{type} %{category}: %{message}"
start_emulator --lang en
NOTE=150x21+503+221
shot "$WORK/before.png"
convert "$WORK/before.png" -crop $NOTE +repage "$WORK/note-empty.png"
note_shown() {
  shot "$WORK/now.png"
  convert "$WORK/now.png" -crop $NOTE +repage "$WORK/note.png"
  local px
  px=$(compare -metric AE -fuzz 10% "$WORK/note-empty.png" "$WORK/note.png" null: 2>&1 || true)
  [[ "$px" =~ ^[0-9]+$ ]] && ((px > 20))
}
tries() { grep -c "reopened port failed again" "$WORK/emulator.log" || true; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$EMU_PID/stat"; }

note "connect to the bridge: it hangs up, and the window says it is reconnecting"
click_at 740 438
wait_for 10 note_shown || fail "no note while the bridge hangs up"
cp "$WORK/now.png" "$WORK/reconnecting.png"
tried_again() { (($(tries) >= 1)); }
wait_for 10 tried_again || fail "no second try; log: $(tail -c 2000 "$WORK/emulator.log")"

# ZANTH_HANGUP_SECONDS makes the span longer, for figures.
span=${ZANTH_HANGUP_SECONDS:-10}
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$EMU_PID/status"; }
note "$span seconds of a bridge that hangs up"
tries0=$(tries) ticks0=$(cpu_ticks) t0=$(now_us) bytes0=$(grep -v "^debug " "$WORK/emulator.log" | wc -c) rss0=$(rss_kb)
sleep "$span"
tries1=$(tries) ticks1=$(cpu_ticks) t1=$(now_us) bytes1=$(grep -v "^debug " "$WORK/emulator.log" | wc -c) rss1=$(rss_kb)
seconds=$(awk "BEGIN {print ($t1 - $t0) / 1e6}")
rate=$(awk "BEGIN {printf \"%.2f\", ($tries1 - $tries0) / $seconds}")
cpu=$(awk "BEGIN {printf \"%.1f\", 100 * ($ticks1 - $ticks0) / $(getconf CLK_TCK) / $seconds}")
logged=$((bytes1 - bytes0))
echo "tries per second: $rate; CPU: $cpu % of a core; log bytes (debug lines aside): $logged;" \
  "resident memory: $rss0 kB -> $rss1 kB"
awk "BEGIN {exit !($rate > 0.1 && $rate <= 1.5)}" || fail "tries per second: $rate"
# A tight loop takes most of a core; the bound leaves room for a loaded machine.
awk "BEGIN {exit !($cpu < 20)}" || fail "CPU while the bridge hangs up: $cpu %"
((logged < 200)) || fail "the log grew by $logged bytes: $(tail -c 1000 "$WORK/emulator.log")"
note_shown || fail "the note went while the bridge still hangs up"
! grep -q "port back" "$WORK/emulator.log" || fail "a bridge that hangs up was taken for a port back"
# ser2net says why before it hangs up; the reason is kept, not only "closed by the bridge".
grep -q "Device open failure" "$WORK/emulator.log" || fail "the bridge's own reason was lost: $(tail -c 1000 "$WORK/emulator.log")"

note "the device appears behind the bridge: messages resume without a click"
start_sim
ln -s "$SIM_PTY" "$DEVICE"
seen() { grep -q "^k " "$SIM_LOG" 2>/dev/null; }
wait_for 15 seen || fail "no message after the device appeared; log: $(tail -c 2000 "$WORK/emulator.log")"
wait_for 10 grep -q "port back" "$WORK/emulator.log" || fail "the port was never back"
wait_for 10 eval '! note_shown' || fail "the note stayed after the robot answered"
close_connected_emulator
echo "PASS"
