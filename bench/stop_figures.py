#!/usr/bin/python3
"""The emergency stop's figures, against the running emulator and the robot simulator on a pseudo-terminal under a
private Xvfb. Prints, never asserts.

1. The stop key (Space through XTest, at a random phase of the wire's rhythm) while a virtual pad's button drives
   in the background ([SYSTEM] BACK=1): the main window focused, another X client focused, the main window
   minimised, the About box open, the Link Monitor focused. Per press: the time to the first neutral frame, and
   whether it was the first message after the press and came at most 10 ms after that message was due anyway (the
   message before the press plus the median interval after one of its kind in the 3 s before). Arrival times are
   the simulator's own (--timestamps). Then the pad lets go and Release is clicked and answered with y.
2. Stopped for --seconds: keys, the virtual pad, the mouse on the picture, a remote client and a recording
   played from the F1 menu all try to drive; every frame on the wire other than the neutral one is counted.

usage: bench/stop_figures.py [BUILD_DIR] [--presses 100] [--seconds 60] [--conditions focused,other,...]
"""
import argparse, asyncio, ctypes, json, os, random, statistics, subprocess, sys, tempfile, time

import websockets

from figures_common import LineReader, cleanup, free_port, read_info, spawn, start_xvfb, xdo

CONDITIONS = ["focused", "other", "minimised", "dialog", "monitor"]
LATE_MS = 10  # how much later than the message due anyway the neutral frame may come
PAD_BUTTON = "1"  # what the virtual pad's button 2 holds on the wire

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build/test")
parser.add_argument("--presses", type=int, default=100)
parser.add_argument("--seconds", type=float, default=60.0)
parser.add_argument("--conditions", default=",".join(CONDITIONS))
opts = parser.parse_args()
build = os.path.abspath(opts.build)
work = tempfile.mkdtemp(prefix="zanth-stop.")


class Wire(LineReader):
    """The simulator's lines as (arrival on the simulator's monotonic clock, command letter, frame bytes, held
    buttons)."""

    def parse(self, text, now):
        parts = text.split(" | ")
        if len(parts) < 3 or not parts[-1].startswith("at "):
            return None
        words = parts[0].split()
        return (float(parts[-1][3:]), words[0], [int(b, 16) for b in words[1:9]],
                set(parts[1][len("buttons:"):].split()) - {"-"})

    def wait(self, t, test, limit=3.0):
        """The first line that arrived after t and passes test, or None after limit seconds."""
        end = time.monotonic() + limit
        while time.monotonic() < end:
            hit = next((line for line in self.since(t) if test(line)), None)
            if hit is not None:
                return hit
            time.sleep(0.005)
        return None


def neutral(line):
    """Nothing held, sticks centred; the LED either way."""
    frame = line[2]
    return frame[:7] == [0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80] and frame[7] & ~0x08 == 0xF3


def driving(line):
    return PAD_BUTTON in line[3]


class XTest:
    """The stop key pressed through the XTest extension, so that the moment the X server takes it is known."""

    def __init__(self, keysym):
        x, self.t = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
        v, u, i, ul = ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong
        for f, res, args in [(x.XOpenDisplay, v, [ctypes.c_char_p]), (x.XStringToKeysym, ul, [ctypes.c_char_p]),
                             (x.XKeysymToKeycode, i, [v, ul]), (x.XSync, i, [v, i]), (x.XGetPixel, ul, [v, i, i]),
                             (x.XGetImage, v, [v, ul, i, i, u, u, ul, i]), (self.t.XTestFakeKeyEvent, i, [v, u, i, ul])]:
            f.restype, f.argtypes = res, args
        self.x, self.dpy = x, x.XOpenDisplay(os.environ["DISPLAY"].encode())
        # A window gone or unmapped under a pixel read must not end the script, as Xlib's own error handler would.
        self.on_error = ctypes.CFUNCTYPE(i, v, v)(lambda d, e: 0)
        x.XSetErrorHandler(self.on_error)
        self.code = x.XKeysymToKeycode(self.dpy, x.XStringToKeysym(keysym.encode()))

    def key(self, down):
        """(monotonic time just before the event was handed over, just after the server had taken it)."""
        t0 = time.monotonic()
        self.t.XTestFakeKeyEvent(self.dpy, self.code, int(down), 0)
        self.x.XSync(self.dpy, 0)
        return t0, time.monotonic()

    def pixel(self, window, x, y):
        """(r, g, b) of one pixel of a window (24-bit true colour, as Xvfb has it here)."""
        image = self.x.XGetImage(self.dpy, int(window), x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        value = self.x.XGetPixel(image, 0, 0) if image else 0
        return value >> 16 & 0xFF, value >> 8 & 0xFF, value & 0xFF


def start_sim():
    """The simulator with arrival times, and run/Zanth-Emulator.ini with COM1 mapped to it and background input
    on; returns (simulator, run folder)."""
    sim = spawn([f"{build}/tools/robot_sim/zanth-robot-sim", "--keep-open", "--timestamps"], stdout=subprocess.PIPE)
    pty = sim.stdout.readline().decode().strip()
    run = os.path.join(work, "run")
    os.makedirs(run)
    ini = f"{run}/Zanth-Emulator.ini"
    with open(ini, "w") as f:
        f.write("[SYSTEM]\nBACK=1\n")
    subprocess.run([f"{build}/tools/ini_tool/zanth-ini", ini, "PORTS", "COM1", pty], check=True)
    return sim, run


def search(*args):
    """Window ids that xdotool search finds (none is no error)."""
    return subprocess.run(["xdotool", "search", *args], capture_output=True, text=True).stdout.split()


def title(window):
    return subprocess.run(["xdotool", "getwindowname", window], capture_output=True, text=True).stdout.strip()


def until(test, limit=10.0, what=None):
    """What test returned once it was true; after limit seconds TimeoutError, or None when `what` is not named."""
    end = time.monotonic() + limit
    while time.monotonic() < end:
        value = test()
        if value:
            return value
        time.sleep(0.02)
    if what:
        raise TimeoutError(f"gave up after {limit} s waiting for {what}")
    return None


class Program:
    """The running emulator: its main window, its virtual pad and the windows the conditions need."""

    def __init__(self, run, manager):
        fifo = os.path.join(work, "pads")
        os.mkfifo(fifo)
        self.pads = os.open(fifo, os.O_RDWR | os.O_NONBLOCK)
        # Info lines too: the log then says how a played recording ended.
        env = dict(os.environ, SDL_AUDIODRIVER="dummy", ZANTH_VIRTUAL_PADS="Pad@7a01:0001",
                   ZANTH_VIRTUAL_PAD_INPUT=fifo, QT_LOGGING_RULES="zanth.*.info=true",
                   XDG_CONFIG_HOME=f"{work}/config", XDG_DATA_HOME=f"{work}/data")
        self.proc = spawn([f"{build}/zanth-emulator", "--lang", "en", f"--remote={free_port()}"], cwd=run, env=env,
                          stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "emulator.log"), "w"))
        self.wid = until(lambda: search("--onlyvisible", "--name", "Zanth"), 20, "the main window")[0]
        xdo("windowfocus", "--sync", self.wid)
        self.manager, self.other, self.monitor = manager, None, None

    def pad(self, down):
        os.write(self.pads, f"0 button 2 {int(down)}\n".encode())

    def windows(self):
        return set(search("--onlyvisible", "--pid", str(self.proc.pid)))

    def click(self, x, y):
        xdo("mousemove", "--window", self.wid, str(x), str(y), "click", "1")

    def opened_by(self, act, what):
        """Runs act; the window of ours it opened."""
        before = self.windows()
        act()
        return sorted(until(lambda: self.windows() - before, 10, what))[0]

    def menu(self, downs, what):
        """The F1 menu's entry about that many steps down; the window it opened, whose title starts with `what`.
        Entries added above it move it down: the next ones are tried, each wrong window closed again."""
        for steps in range(downs, downs + 4):
            xdo("mousemove", "0", "0")  # off the menu, or the entry under the pointer is where the steps start
            xdo("windowfocus", "--sync", self.wid)
            self.opened_by(lambda: xdo("key", "F1"), "the F1 menu")
            window = self.opened_by(lambda: xdo("key", *["Down"] * steps, "Return"), what)
            if title(window).startswith(what):
                return window
            self.close_window(window)
        raise TimeoutError(f"the F1 menu did not open {what}")

    def release_stop(self, xt):
        """Release in the banner, answered with y, as a user leaves the stop; returns once the banner is gone
        (the session has seen every source let go), so that the next press drives."""
        if self.wid not in self.windows():
            xdo("windowmap", "--sync", self.wid)
        xdo("windowactivate" if self.manager else "windowraise", "--sync", self.wid)
        xdo("windowfocus", "--sync", self.wid)
        # The banner's middle: red while stopped, orange while a source has still to let go, the panel's light
        # colour once it has gone; anything else is a window just restored and not drawn yet. Such a window may
        # also miss a click: clicked until the banner turns.
        end = time.monotonic() + 15
        while time.monotonic() < end:
            red, green, blue = xt.pixel(self.wid, 300, 25)
            if green > 180 and blue > 180:
                return
            if not (red > 150 and green < 80 and blue < 80):
                time.sleep(0.02)
                continue
            self.click(590, 25)
            try:
                question = until(lambda: self.question(), 3, "the question of Release")
            except TimeoutError:
                continue
            xdo("windowfocus", "--sync", question, "key", "y")
            until(lambda: question not in self.windows(), 10, "the question to close")
        raise TimeoutError("gave up after 15 s waiting for the banner to go after Release")

    def question(self):
        return next((w for w in self.windows() - {self.wid, self.monitor} if title(w) == "WARNING"), None)

    def recover(self, xt):
        """After a step that failed: closes what it left open and leaves the stop; False when that fails too."""
        for _ in range(3):
            try:
                for window in self.windows() - {self.wid, self.monitor}:
                    self.close_window(window)
                self.release_stop(xt)
                return True
            except (TimeoutError, subprocess.CalledProcessError):
                time.sleep(1)
        return False

    def close_window(self, window):
        if window in self.windows():
            xdo("windowfocus", "--sync", window, "key", "Escape")
            until(lambda: window not in self.windows(), 10, "a window to close")


def set_up(p, name):
    """The condition of a press; a window to close before Release, if any."""
    if name == "focused":
        xdo("windowfocus", "--sync", p.wid)
    elif name == "other":
        if p.other is None:
            spawn(["xmessage", "-geometry", "+600+500", "another program"], stderr=subprocess.DEVNULL)
            p.other = until(lambda: search("--onlyvisible", "--name", "^xmessage$"), 10, "xmessage")[0]
        xdo("windowfocus", "--sync", p.other)
    elif name == "minimised":
        # Without a window manager nobody iconifies: the window is unmapped as one would do it.
        xdo("windowminimize" if p.manager else "windowunmap", "--sync", p.wid)
    elif name == "dialog":
        about = p.menu(2, "About")
        xdo("windowfocus", "--sync", about)
        return about
    elif name == "monitor":
        if p.monitor is None or p.monitor not in p.windows():
            p.monitor = p.menu(3, "Link Monitor")
        xdo("windowfocus", "--sync", p.monitor)
    return None


def take_down(p, name, window):
    if name == "minimised":
        xdo("windowactivate" if p.manager else "windowmap", "--sync", p.wid)
    elif window:
        p.close_window(window)


def due(lines):
    """When the message after the last of `lines` was due: its arrival plus the median interval after a message
    of the same kind ("k" asks for a reply and waits for it, "K" does not)."""
    last = lines[-1]
    gaps = [b[0] - a[0] for a, b in zip(lines, lines[1:]) if a[1] == last[1]]
    return last[0] + statistics.median(gaps) if gaps else None


def press_once(p, wire, xt, name):
    """One press of the stop key while the pad drives; a dict of what the wire showed."""
    p.pad(True)
    if wire.wait(time.monotonic(), driving, 5) is None:
        p.pad(False)
        return {"error": "the pad did not drive"}
    opened = set_up(p, name)
    held = wire.wait(time.monotonic(), driving, 3) is not None
    time.sleep(random.uniform(0, 0.15))
    t0, taken = xt.key(True)
    stop = wire.wait(t0, neutral, 3)
    xt.key(False)
    p.pad(False)
    after = wire.since(t0)
    before = [line for line in wire.since(t0 - 3.0) if line[0] < t0]
    record = {"held": held and bool(before) and driving(before[-1]), "taken_ms": (taken - t0) * 1000}
    if stop is None or not after:
        record["error"] = "no neutral frame within 3 s"
    else:
        record.update(stop_ms=(stop[0] - t0) * 1000, next_ms=(after[0][0] - t0) * 1000,
                      first=after[0][0] == stop[0], due=due(before), arrived=stop[0])
    take_down(p, name, opened)
    released = time.monotonic()
    p.release_stop(xt)
    # Nothing is held now: two more messages show whether anything drove on its own after Release.
    gone = time.monotonic()
    until(lambda: len(wire.since(gone)) >= 2, 3, "two messages after Release")
    record["after_release"] = [line for line in wire.since(released) if not neutral(line)]
    return record


def percentile(values, q):
    ordered = sorted(values)
    return ordered[max(0, min(len(ordered) - 1, -(-len(ordered) * q // 100) - 1))]


def late_ms(record):
    """How much later than the message due anyway the neutral frame came."""
    return (record["arrived"] - record["due"]) * 1000 if record["due"] is not None else float("nan")


def report_presses(name, records):
    good = [r for r in records if "error" not in r]
    errors = [r["error"] for r in records if "error" in r]
    met = [r for r in good if r["first"] and r["due"] is not None and r["arrived"] <= r["due"] + LATE_MS / 1000]
    print(f"stop key, {name:<9}: {len(met)} of {len(records)} met (the first message after the press was "
          f"neutral, at most {LATE_MS} ms after it was due anyway); {sum(r['held'] for r in good)} pressed "
          f"while the pad was driving; {len(errors)} failed{': ' + '; '.join(sorted(set(errors))) if errors else ''}")
    if not good:
        return
    for label, key in [("press -> neutral frame", "stop_ms"), ("press -> next message", "next_ms")]:
        values = [r[key] for r in good]
        print(f"    {label:<23}: p50 {percentile(values, 50):6.1f} ms, p99 {percentile(values, 99):6.1f} ms, "
              f"max {max(values):6.1f} ms")
    late = [late_ms(r) for r in good if r["due"] is not None]
    print(f"    neutral frame after due: p50 {percentile(late, 50):+6.1f} ms, p99 {percentile(late, 99):+6.1f} ms, "
          f"max {max(late):+6.1f} ms; the X server took the press within {max(r['taken_ms'] for r in good):.1f} ms")
    drove = [r for r in good if r["after_release"]]
    if drove:
        held = sorted({b for r in drove for line in r["after_release"] for b in line[3]})
        frames = sum(len(r["after_release"]) for r in drove)
        print(f"    after Release (answered with y, nothing held): {len(drove)} of {len(good)} times the robot got "
              f"frames other than neutral ({frames} in all), holding {' '.join(held) or 'a stick'}")
    for r in good:
        if r not in met:
            # A message that arrives within the time the X server took to have the press left before the key did.
            print(f"    missed: first message after the press {'neutral' if r['first'] else 'still driving'} "
                  f"{r['next_ms']:.1f} ms after it (the X server had the press after {r['taken_ms']:.1f} ms), "
                  f"the neutral frame {r['stop_ms']:.1f} ms after it, {late_ms(r):+.1f} ms after it was due")


def write_recording(path, messages=240):
    """A recorded drive with L1 and R1 held (half a minute at the wire's rhythm), by the session file's format."""
    with open(path, "w") as f:
        f.write("zanth-session\t1\tZanth-Emulator bench\tCOM1\tsimulator\n")
        for i in range(messages):
            f.write(f"{i * 125000}\t6B FF FF F3 80 80 80 80 F3\n")
        f.write(f"end\t{messages}\n")


class Remote:
    """One remote-control client, kept open between its presses (it speaks before each, never silent for long)."""

    def __init__(self, info):
        self.info, self.ws, self.loop = info, None, asyncio.new_event_loop()

    def tap(self, item, seconds):
        async def go():
            if self.ws is None:
                self.ws = await websockets.connect(self.info["ws"], ping_interval=None)
                await self.ws.send(json.dumps({"v": 1, "type": "hello", "name": "bench", "token": self.info["token"]}))
                await self.ws.recv()
            await self.ws.send(json.dumps({"v": 1, "type": "ping"}))
            await self.ws.send(json.dumps({"v": 1, "type": "press", "item": item}))
            await asyncio.sleep(seconds)
            await self.ws.send(json.dumps({"v": 1, "type": "release", "item": item}))
        try:
            self.loop.run_until_complete(go())
            return True
        except (OSError, EOFError, websockets.exceptions.WebSocketException):
            self.ws = None
            return False

    def close(self):
        if self.ws is not None:
            self.loop.run_until_complete(self.ws.close())
        self.loop.close()


def logged(text):
    """How many lines of the emulator's log hold `text`."""
    with open(os.path.join(work, "emulator.log")) as f:
        return sum(text in line for line in f)


def play(p, path):
    """Play from the F1 menu with `path` (in the folder the chooser opens) chosen, tried again while the log does
    not say it plays (the chooser may take Return before it has read its folder); closes whatever it says back.
    True once it played."""
    for _ in range(3):
        before, plays = p.windows(), logged("playing ")
        chooser = p.menu(6, "Play")
        xdo("windowfocus", "--sync", chooser)
        xdo("type", "--delay", "20", os.path.basename(path))
        xdo("key", "Return")
        until(lambda: chooser not in p.windows(), 10, "the file chooser to close")
        started = until(lambda: logged("playing ") > plays, 3)
        for window in p.windows() - before:
            p.close_window(window)
        xdo("windowfocus", "--sync", p.wid)
        if started:
            return True
    return False


def drives_before_the_stop(p, wire, remote, recording):
    """Each source once while the robot is free to drive, so that a silent wire while stopped means something;
    the recording is left playing. {source: whether a frame other than neutral came}."""
    def reached(act, undo, test=lambda line: not neutral(line)):
        t0 = time.monotonic()
        act()
        seen = wire.wait(t0, test, 3) is not None
        undo()
        wire.wait(time.monotonic(), neutral, 3)
        return seen
    xdo("windowfocus", "--sync", p.wid)
    return {
        "key": reached(lambda: xdo("keydown", "q"), lambda: xdo("keyup", "q")),
        "pad": reached(lambda: os.write(p.pads, b"0 button 0 1\n"), lambda: os.write(p.pads, b"0 button 0 0\n")),
        "mouse": reached(lambda: xdo("mousemove", "--window", p.wid, "378", "382", "mousedown", "1"),
                         lambda: xdo("mouseup", "1")),
        "remote": reached(lambda: remote.tap("L2", 0.4), lambda: None),
        "play": reached(lambda: play(p, recording), lambda: None, lambda line: {"L1", "R1"} <= line[3]),
    }


def stopped_soak(p, wire, xt, remote, recording):
    """The stop key while the recording plays, then --seconds in which every source tries to drive, Play from the
    menu every 10 s; (frames on the wire since the stop, those other than neutral, tries per source)."""
    t0, _ = xt.key(True)
    xt.key(False)
    stop = wire.wait(t0, neutral, 3)
    if stop is None:
        sys.exit("the stop key did not stop the robot")
    start, tries = time.monotonic(), {"key": 0, "pad": 0, "mouse": 0, "remote": 0, "plays started": 0}
    last_play = start
    while time.monotonic() - start < opts.seconds:
        hold = random.uniform(0.05, 0.3)
        xdo("keydown", "q", "u", "Left", "sleep", f"{hold:.3f}", "keyup", "q", "u", "Left")
        tries["key"] += 1
        os.write(p.pads, b"0 button 0 1\n0 axis 0 32767\n")
        time.sleep(hold)
        os.write(p.pads, b"0 button 0 0\n0 axis 0 0\n")
        tries["pad"] += 1
        xdo("mousemove", "--window", p.wid, "378", "382", "mousedown", "1", "sleep", f"{hold:.3f}", "mouseup", "1")
        tries["mouse"] += 1
        tries["remote"] += remote.tap("L2", hold)
        if time.monotonic() - last_play > 10:
            tries["plays started"] += play(p, recording)
            last_play = time.monotonic()
    time.sleep(0.5)
    lines = [line for line in wire.since(stop[0]) if line[0] < time.monotonic()]
    return len(lines), [line for line in lines if not neutral(line)], tries


def start_window_manager():
    """openbox on the private X server when it is installed (minimising needs one); True when it runs."""
    if subprocess.run(["which", "openbox"], capture_output=True).returncode != 0:
        return False
    spawn(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    until(lambda: "window id" in subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True,
                                                 text=True).stdout, 10, "the window manager")
    return True


def measure_presses(p, wire, xt):
    for name in opts.conditions.split(","):
        records = []
        for _ in range(opts.presses):
            try:
                records.append(press_once(p, wire, xt, name))
            except (TimeoutError, subprocess.CalledProcessError) as e:
                records.append({"error": str(e).splitlines()[0]})
                p.pad(False)
                if not p.recover(xt):
                    sys.exit(f"the stop could not be left after: {e}")
        report_presses(name, records)


def main():
    start_xvfb()
    manager = start_window_manager()
    print(f"window manager: {'openbox' if manager else 'none (minimised = unmapped)'}", flush=True)
    sim, run = start_sim()
    wire = Wire(sim.stdout)
    p = Program(run, manager)
    info = read_info(run)
    p.click(740, 438)  # Connect
    if wire.wait(0, lambda line: True, 10) is None:
        sys.exit("not connected")
    xt = XTest("space")
    measure_presses(p, wire, xt)
    # Where the file chooser of Play opens in a portable run.
    os.makedirs(os.path.join(run, "Data"), exist_ok=True)
    recording = os.path.join(run, "Data", "drive.zsr")
    write_recording(recording)
    remote = Remote(info)
    reached = drives_before_the_stop(p, wire, remote, recording)
    print("before the stop, each source drove: " + ", ".join(f"{k} {'yes' if v else 'NO'}" for k, v in reached.items()))
    frames, others, tries = stopped_soak(p, wire, xt, remote, recording)
    remote.close()
    print(f"stopped for {opts.seconds:.0f} s while they tried to drive (" +
          ", ".join(f"{k} {v}" for k, v in tries.items()) + f" tries): {len(others)} of {frames} frames on the "
          f"wire other than neutral (target 0)")
    for line in others[:5]:
        print(f"    {line[1]} " + " ".join(f"{b:02X}" for b in line[2]) + f" buttons {sorted(line[3])}")
    with open(os.path.join(work, "emulator.log")) as f:
        ended = [line.split("playback ended: ", 1)[1].strip() for line in f if "playback ended: " in line]
    print(f"how the played recordings ended, the first when the stop came: {'; '.join(ended) or 'none logged'}")


try:
    main()
finally:
    cleanup()
