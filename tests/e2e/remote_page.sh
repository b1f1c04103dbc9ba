#!/usr/bin/env bash
# The remote-control page in a real browser (chromium driven by selenium, touch as on a phone) against the
# running program and the simulator: touches on the picture and a stick drag reach the wire, all at once;
# closing the tab gives the neutral frame; a page of another origin and a wrong or missing token cannot drive.
source "$(dirname "$0")/lib.bash"

start_x
start_sim --keep-open
PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_emulator --lang en --remote="$PORT"
click_at 740 438
wait_for 10 grep -q "^k FF FF FF" "$SIM_LOG" || fail "not connected"
has_token() { /usr/bin/python3 -c 'import json, sys; json.load(open(sys.argv[1]))["token"]' "$WORK/run/remote.json" 2>/dev/null; }
wait_for 10 has_token || fail "no remote.json with the token beside the settings"
TOKEN=$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["token"])' "$WORK/run/remote.json")

/usr/bin/python3 - "$PORT" "$TOKEN" "$SIM_LOG" "$WORK" <<'EOF' || fail "the browser test failed"
import functools, http.server, socket, sys, threading, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.by import By

port, token, sim_log, work = sys.argv[1:5]
page = f"http://127.0.0.1:{port}/"


def frames(start=0):
    """The wire's frames from line `start` on, as (buttons held, stick bytes)."""
    out = []
    with open(sim_log) as f:
        for line in f.read().splitlines()[start:]:
            parts = line.split(" | ")
            if len(parts) >= 3:
                sticks = dict(kv.split("=") for kv in parts[2].split())
                out.append((set(parts[1].split()[1:]) - {"-"}, {k: int(v) for k, v in sticks.items()}))
    return out


def line_count():
    with open(sim_log) as f:
        return len(f.read().splitlines())


def neutral(frame):
    return not frame[0] and set(frame[1].values()) == {128}


def wait(condition, what, limit=10):
    end = time.monotonic() + limit
    while not condition():
        if time.monotonic() > end:
            sys.exit(f"FAIL: {what}")
        time.sleep(0.01)


options = webdriver.ChromeOptions()
for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            f"--user-data-dir={work}/chromium"]:
    options.add_argument(arg)
options.add_experimental_option("mobileEmulation",
                                {"deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 2, "touch": True}})
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    def open_page(fragment):
        driver.get(page + fragment)
        wait(lambda: driver.find_elements(By.CSS_SELECTOR, '[data-item="L1"]'), "no controller from the hello")

    def touch(*targets):
        """Fingers down, and held, on elements; an (element, dx, dy) target is dragged that far from its centre."""
        builder = ActionBuilder(driver)
        for i, target in enumerate(targets):
            element, dx, dy = target if isinstance(target, tuple) else (target, 0, 0)
            finger = builder.add_pointer_input(interaction.POINTER_TOUCH, f"finger{i}")
            finger.create_pointer_move(origin=element)
            finger.create_pointer_down()
            if dx or dy:
                finger.create_pointer_move(x=dx, y=dy, origin=element)
        builder.perform()

    item = lambda name: driver.find_element(By.CSS_SELECTOR, f'[data-item="{name}"]')

    print("-- two buttons and a stick at once reach the wire; letting go gives the neutral frame")
    open_page(f"#token={token}")
    start = line_count()
    touch(item("L1"), item("R1"), (driver.find_element(By.ID, "stick-left"), 40, -30))
    wait(lambda: any({"L1", "R1"} <= b and s["LX"] > 128 and s["LY"] < 128 for b, s in frames(start)),
         f"L1, R1 and the left stick not on the wire: {frames(start)[-1:]}")
    start = line_count()
    ActionBuilder(driver).clear_actions()
    wait(lambda: any(neutral(f) for f in frames(start)), "no neutral frame after letting go")

    print("-- closing the tab while a finger holds L1")
    driver.get("about:blank")
    first = driver.current_window_handle
    driver.switch_to.new_window("tab")
    open_page(f"#token={token}")
    touch(item("L1"))
    wait(lambda: any("L1" in b for b, _ in frames(line_count() - 1)), "L1 not held before closing")
    start = line_count()
    closed_at = time.monotonic()
    driver.close()
    wait(lambda: any(neutral(f) for f in frames(start)), "no neutral frame after the tab closed", 5)
    took = (time.monotonic() - closed_at) * 1000
    print(f"-- neutral frame on the wire {took:.0f} ms after the tab closed")
    if took > 2000:
        sys.exit(f"FAIL: the neutral frame came {took:.0f} ms after the tab closed")
    driver.switch_to.window(first)

    # Each probe opens a socket from the page shown, says hello, presses L1 and reports what came back.
    probe = """
        const [url, hello, done] = arguments, got = [];
        const ws = new WebSocket(url);
        ws.onopen = () => { ws.send(JSON.stringify(hello)); ws.send('{"v":1,"type":"press","item":"L1"}'); };
        ws.onmessage = (e) => got.push(JSON.parse(e.data).type);
        ws.onclose = () => setTimeout(() => done({got, closed: true}), 0);
        setTimeout(() => done({got, closed: false}), 5000);"""

    def refused(what, hello):
        start = line_count()
        result = driver.execute_async_script(probe, f"ws://127.0.0.1:{port}/ws", hello)
        if "hello" in result["got"] or not result["closed"]:
            sys.exit(f"FAIL: {what} was not refused: {result}")
        time.sleep(0.4)  # several messages' time: a press let through would show
        if any("L1" in b for b, _ in frames(start)):
            sys.exit(f"FAIL: {what} drove the robot")

    print("-- a page of another local origin cannot drive")
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    other = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=work))
    threading.Thread(target=other.serve_forever, daemon=True).start()
    driver.set_script_timeout(10)
    driver.get(f"http://127.0.0.1:{other.server_address[1]}/")
    refused("another origin", {"v": 1, "type": "hello", "name": "other", "token": token})

    print("-- a wrong or missing token is refused, and the page says so")
    driver.get(page)
    refused("a wrong token", {"v": 1, "type": "hello", "name": "wrong", "token": "0" * 32})
    refused("no token", {"v": 1, "type": "hello", "name": "none"})
    driver.get(page + "#token=" + "0" * 32)
    banner = driver.find_element(By.ID, "banner")
    wait(lambda: "refused" in banner.text, f"the page shows no refusal: {banner.text!r}")
finally:
    driver.quit()
EOF
close_connected_emulator
echo "PASS"
