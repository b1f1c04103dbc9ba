#!/usr/bin/env bash
# The remote-control page in a real browser (chromium driven by selenium, touch as on a phone) against the
# running program and the simulator: touches on the picture and a stick drag reach the wire, all at once;
# closing the tab gives the neutral frame; a page of another origin and a wrong or missing token cannot drive.
# The page shows the truth: greyed out and frozen while the robot is disconnected, cleared by Stop all, and a
# finger resting through either (or through a rotation) must lift before it drives again. Sticks: no jump on
# touch-down, a full diagonal reaches the corner. Usable by keyboard alone. axe-core finds nothing to fault
# connected, disconnected, refused and sideways, in English and Japanese. The page names the robot; a ninth
# client reads why it may not drive; the key outlives a restart, so a phone need not scan again. The page's
# STOP stops the robot: a red banner names the page, nothing it touches drives, a second STOP is harmless.
source "$(dirname "$0")/lib.bash"
source "$(dirname "$0")/../../scripts/deps.sh"
AXE=$(zanth_npm_dir axe-core) || fail "axe-core could not be installed from npm"

start_x
start_sim --keep-open
PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_emulator --lang en --remote="$PORT"
click_at 740 438
wait_for 10 grep -q "^k FF FF FF" "$SIM_LOG" || fail "not connected"
has_token() { /usr/bin/python3 -c 'import json, sys; json.load(open(sys.argv[1]))["token"]' "$WORK/run/remote.json" 2>/dev/null; }
wait_for 10 has_token || fail "no remote.json with the token beside the settings"
TOKEN=$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["token"])' "$WORK/run/remote.json")

ARGS=("$PORT" "$TOKEN" "$SIM_LOG" "$WORK" "$WID" "$EMU_PID" "$AXE/axe.min.js")
/usr/bin/python3 - "${ARGS[@]}" <<'EOF' || fail "the browser test failed"
import functools, http.server, socket, subprocess, sys, threading, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

port, token, sim_log, work, wid, emu_pid, axe_js = sys.argv[1:8]
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
            sys.exit(f"FAIL: {what() if callable(what) else what}")
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
    wait(lambda: driver.find_element(By.ID, "title").text == "Zanth-Emulator" and "Zanth-Emulator –" in driver.title,
         lambda: f"the page does not name the robot: {driver.find_element(By.ID, 'title').text!r} {driver.title!r}")
    start = line_count()
    touch(item("L1"), item("R1"), (driver.find_element(By.ID, "stick-left"), 40, -30))
    wait(lambda: any({"L1", "R1"} <= b and s["LX"] > 128 and s["LY"] < 128 for b, s in frames(start)),
         f"L1, R1 and the left stick not on the wire: {frames(start)[-1:]}")
    start = line_count()
    ActionBuilder(driver).clear_actions()
    wait(lambda: any(neutral(f) for f in frames(start)), "no neutral frame after letting go")

    # ---- Touch through the DevTools protocol: fingers that stay down across what the program does.
    def at(element, dx=0, dy=0):
        box = driver.execute_script("return arguments[0].getBoundingClientRect().toJSON()", element)
        return (box["x"] + box["width"] / 2 + dx, box["y"] + box["height"] / 2 + dy)

    def fingers(kind, *points):
        """touchStart / touchMove with every finger down (id = place in the list); touchEnd lifts them all."""
        driver.execute_cdp_cmd("Input.dispatchTouchEvent", {
            "type": kind, "touchPoints": [{"x": x, "y": y, "id": i} for i, (x, y) in enumerate(points)]})

    def js(script):
        return driver.execute_script("const q = (s) => document.querySelector(s); return " + script)

    live = lambda: js("!document.body.classList.contains('frozen')")
    # What the page shows, for a failure's message.
    shown = lambda: js("[document.body.className, q('#banner').textContent, q('[data-item=\"L1\"]').outerHTML,"
                       " q('#stick-left').outerHTML].join(' ')")
    lit = lambda name: js(f"q('[data-item=\"{name}\"]').getAttribute('aria-pressed') === 'true'")

    def stays_neutral(what):
        start = line_count()
        time.sleep(0.5)  # several messages' time: a finger that drove would show
        if not all(neutral(f) for f in frames(start)):
            sys.exit(f"FAIL: {what}: {frames(start)[-1:]}")

    def xdotool(*args):
        subprocess.run(["xdotool", *args], check=True)

    def connect_button():
        xdotool("mousemove", "--window", wid, "740", "438", "click", "1")

    def stop_all():
        """Stop all remote input, in the Remote Control window of the F1 menu (its button is bottom left)."""
        shown = lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", emu_pid],
                                       capture_output=True, text=True).stdout.split()
        before = len(shown())
        xdotool("windowfocus", "--sync", wid, "key", "F1")
        wait(lambda: len(shown()) > before, "no menu after F1")
        xdotool("key", "Down", "Down", "Down", "Down", "Return")
        found = lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Remote Control$"],
                                       capture_output=True, text=True).stdout.split()
        wait(found, "no Remote Control window")
        window = found()[0]
        height = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True,
                                text=True).stdout.split("HEIGHT=")[1].split()[0]
        xdotool("mousemove", "--window", window, "40", str(int(height) - 26), "click", "1")
        return window

    ua = driver.execute_script("return navigator.userAgent")
    axe_source = open(axe_js).read()

    def audit(what, ready):
        """axe-core over the page in both languages, reloaded in each once `ready()` holds."""
        for code in ("ja", "en"):
            driver.execute_cdp_cmd("Emulation.setUserAgentOverride", {"userAgent": ua, "acceptLanguage": code})
            driver.refresh()
            wait(lambda: js("document.documentElement.lang") == code and ready(), f"not {what} ({code})")
            driver.execute_script(axe_source)
            faults = driver.execute_async_script(
                "axe.run(document).then((r) => arguments[0](r.violations.map((v) =>"
                " v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).join(', '))))")
            if faults:
                sys.exit(f"FAIL: axe-core faults the page {what} ({code}): {faults}")
        print(f"-- axe-core: no violation {what}, in Japanese and English")

    open_page(f"#token={token}")
    wait(live, "the page is not live while the robot is connected")
    audit("connected", live)

    print("-- the buttons light from the program's state; Disconnect greys out; a resting finger lifts first")
    stick = driver.find_element(By.ID, "stick-left")
    fingers("touchStart", at(item("L1")), at(stick))
    fingers("touchMove", at(item("L1")), at(stick, 40, -30))
    wait(lambda: any("L1" in b and s["LX"] > 128 for b, s in frames(line_count() - 2)),
         lambda: f"L1 and the stick not driving: {shown()} {frames(line_count() - 1)}")
    wait(lambda: lit("L1"), "L1 not lit while the program holds it")
    connect_button()
    wait(lambda: not live() and not lit("L1") and js("q('[data-item=\"L1\"]').getAttribute('aria-disabled')") == "true"
         and js("q('#stick-left .knob').style.transform") == "",
         lambda: f"the page not greyed out and let go on Disconnect: {shown()}")
    audit("disconnected", lambda: not live() and js("document.querySelectorAll('button.item').length") > 0)
    open_page(f"#token={token}")
    stick = driver.find_element(By.ID, "stick-left")
    fingers("touchStart", at(item("L1")), at(stick))
    connect_button()
    wait(live, "the page not live again after Connect")
    fingers("touchMove", at(item("L1")), at(stick, 50, 40))
    stays_neutral("a finger resting through Disconnect drove again")
    fingers("touchEnd")
    fingers("touchStart", at(item("L1")))
    wait(lambda: any("L1" in b for b, _ in frames(line_count() - 2)), "a new touch after lifting does not drive")
    fingers("touchEnd")

    print("-- Stop all clears the page; a resting finger lifts first")
    fingers("touchStart", at(item("L1")), at(stick))
    fingers("touchMove", at(item("L1")), at(stick, -40, 30))
    wait(lambda: lit("L1") and any(s["LX"] < 128 for _, s in frames(line_count() - 2)), "L1 and the stick not held")
    window = stop_all()
    wait(lambda: not lit("L1") and js("q('#stick-left').getAttribute('aria-valuenow')") == "0",
         "the page still shows L1 or the stick after Stop all")
    fingers("touchMove", at(item("L1")), at(stick, -60, 50))
    stays_neutral("a finger resting through Stop all drove again")
    xdotool("windowfocus", "--sync", window, "key", "Escape")
    fingers("touchEnd")

    print("-- a stick: no jump where the thumb lands, the corner at a full diagonal; a rotation lets go")
    fingers("touchStart", at(stick, 30, 30))
    wait(lambda: js("q('#stick-left').classList.contains('held')"), lambda: f"the stick not held: {shown()}")
    start = line_count()
    fingers("touchMove", at(stick, 31, 31))
    time.sleep(0.5)  # several messages' time: a jump would show
    if any(abs(s["LX"] - 128) > 8 or abs(s["LY"] - 128) > 8 for _, s in frames(start)):
        sys.exit(f"FAIL: the stick jumped on touch-down: {frames(start)[-1:]}")
    fingers("touchMove", at(stick, 230, -230))
    wait(lambda: any(abs(s["LX"] - 128) >= 120 and abs(s["LY"] - 128) >= 120 for _, s in frames(line_count() - 2)),
         f"a full diagonal does not reach the corner: {frames(line_count() - 1)}")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 844, "height": 390, "deviceScaleFactor": 2, "mobile": True})
    wait(lambda: any(neutral(f) for f in frames(line_count() - 1)), "the rotation did not let go of the stick")
    fingers("touchMove", at(stick, 20, 20))
    stays_neutral("a finger resting through a rotation drove again")
    fingers("touchEnd")
    audit("sideways", live)

    print("-- by keyboard alone: Space on a focused button, arrow keys on a focused stick")
    def tab_to(selector):
        for _ in range(60):
            if js(f"document.activeElement === q('{selector}')"):
                return
            ActionChains(driver).send_keys(Keys.TAB).perform()
        sys.exit(f"FAIL: Tab never reaches {selector}")
    tab_to('[data-item="1"]')
    ActionChains(driver).key_down(Keys.SPACE).perform()
    wait(lambda: any("1" in b for b, _ in frames(line_count() - 2)), "Space on button 1 does not press it")
    ActionChains(driver).key_up(Keys.SPACE).perform()
    wait(lambda: any(neutral(f) for f in frames(line_count() - 1)), "button 1 not let go with Space")
    tab_to("#stick-right")
    ActionChains(driver).key_down(Keys.ARROW_LEFT).key_down(Keys.ARROW_UP).perform()
    wait(lambda: any(abs(s["RX"] - 128) >= 120 and abs(s["RY"] - 128) >= 120 for _, s in frames(line_count() - 2)),
         "arrow keys do not push the stick to its corner")
    ActionChains(driver).key_up(Keys.ARROW_LEFT).key_up(Keys.ARROW_UP).perform()
    wait(lambda: any(neutral(f) for f in frames(line_count() - 1)), "the stick not centred when the keys go up")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})

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
    audit("refused", lambda: js("q('#banner').className") == "big")

    print("-- a ninth client is told in words why it may not drive")
    driver.get("about:blank")
    driver.switch_to.new_window("tab")
    driver.get(page + "#token=" + "0" * 32)  # this origin, refused itself: it holds no place
    # Clients join one by one until the server says there is no place left.
    held = driver.execute_async_script("""
        const [url, token, done] = arguments;
        window.held = [];
        const next = () => {
          const ws = new WebSocket(url);
          ws.onopen = () => ws.send(JSON.stringify({v: 1, type: "hello", name: "held", token}));
          ws.onmessage = (e) => {
            const type = JSON.parse(e.data).type;
            if (type === "hello") { window.held.push(ws); next(); }
            else if (type === "refused") done(window.held.length);
          };
        };
        next();""", f"ws://127.0.0.1:{port}/ws", token)
    if held == 0:
        sys.exit("FAIL: no place for a client at all")
    holder = driver.current_window_handle
    driver.switch_to.window(first)
    driver.get(page + f"#token={token}")
    wait(lambda: "8 clients already drive this robot" in driver.find_element(By.ID, "banner").text,
         lambda: f"the ninth client is not told why: {driver.find_element(By.ID, 'banner').text!r}")
    driver.switch_to.window(holder)
    # Their places free once the program has answered their close.
    driver.execute_async_script("""
        const done = arguments[0];
        Promise.all(window.held.map((ws) => new Promise((closed) => { ws.onclose = closed; ws.close(); })))
          .then(() => done());""")
    driver.close()
    driver.switch_to.window(first)

    print("-- the page's STOP: the banner names this page, the controls grey out and drive nothing; again is harmless")
    driver.get("about:blank")  # the refused page takes no new hello of its own
    open_page(f"#token={token}")
    wait(live, "the page is not live before the stop")
    stop = driver.find_element(By.ID, "stop")
    if min(stop.size["width"], stop.size["height"]) < 44:
        sys.exit(f"FAIL: the STOP is smaller than a thumb: {stop.size}")
    banner = lambda: js("q('#banner').textContent")
    fingers("touchStart", at(item("L1")))
    wait(lambda: lit("L1"), "L1 not held before the stop")
    fingers("touchStart", at(item("L1")), at(stop))
    wait(lambda: not live() and "STOPPED by" in banner() and "Browser" in banner(),
         lambda: f"no stop banner naming this page: {shown()}")
    stays_neutral("the robot drove while stopped")
    fingers("touchEnd")
    fingers("touchStart", at(item("L1")))
    stays_neutral("a touch drove while stopped")
    fingers("touchEnd")
    fingers("touchStart", at(stop))
    fingers("touchEnd")
    stays_neutral("a second STOP drove")
    if "STOPPED by" not in banner():
        sys.exit(f"FAIL: the stop banner went after a second STOP: {shown()}")
    audit("stopped", lambda: js("q('#banner').className") == "stop")
finally:
    driver.quit()
EOF
close_connected_emulator

note "the key outlives a restart: the same code, and a client with the old key is let in"
[ "$(stat -c %a "$WORK/run/remote.key")" = 600 ] || fail "the key is not kept private beside the settings"
start_emulator --lang en --remote="$PORT"
same_token() { [ "$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["token"])' \
  "$WORK/run/remote.json" 2>/dev/null)" = "$TOKEN" ]; }
wait_for 10 same_token || fail "a new key after the restart: every phone would have to scan again"
/usr/bin/python3 - "$PORT" "$TOKEN" <<'EOF' || fail "the old key does not open after the restart"
import asyncio, json, sys, websockets
async def main():
    async with websockets.connect(f"ws://127.0.0.1:{sys.argv[1]}/ws") as ws:
        await ws.send(json.dumps({"v": 1, "type": "hello", "name": "after restart", "token": sys.argv[2]}))
        told = json.loads(await asyncio.wait_for(ws.recv(), 10))
        assert told["type"] == "hello", told
asyncio.run(main())
EOF
close_emulator
echo "PASS"
