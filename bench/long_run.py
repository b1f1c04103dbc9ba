#!/usr/bin/env python3
"""Long run of the real program against the robot simulator under a private Xvfb: does anything grow?

Phase 1, MINUTES long: connected, with one input every second in turn (a key held briefly, a mouse press on a
button, the wheel over the slider, the MODE button, the arrow keys), and a gamepad plugged in and unplugged
every minute where the kernel offers /dev/uinput (a pad made from outside the process, as a user's would be).
Phase 2: CYCLES Connect/Disconnect presses.
Resident memory, open descriptors, threads and CPU are sampled every SAMPLE seconds; at the end the growth of
each from the first minute on (phase 1) and from the start (phase 2) is printed, with the CPU share of one core.

With --soak, instead: a school day's use. Connected, the Link Monitor open, the remote-control server on and one
client (python3-websockets) pressing an item every 200 ms for MINUTES; resident memory at the start and the end,
and its slope (least squares, MB per hour) from the first minute on and from the eleventh (the monitor's
ten-minute battery window full) on, where the run is long enough.

--emulator runs another build's program against this build's simulator.

usage: bench/long_run.py BUILD_DIR [--minutes 60] [--cycles 500] [--sample 30] [--soak] [--emulator PATH]
"""
import argparse, asyncio, fcntl, json, os, signal, struct, subprocess, tempfile, threading, time

from figures_common import cleanup, free_port, read_info, spawn, start_xvfb, xdo

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("--minutes", type=float, default=60)
parser.add_argument("--cycles", type=int, default=500)
parser.add_argument("--sample", type=float, default=30)
parser.add_argument("--soak", action="store_true")
parser.add_argument("--emulator")
opts = parser.parse_args()
build = os.path.abspath(opts.build)
work = tempfile.mkdtemp(prefix="zanth-long.")
class Probe:
    """Samples one process from /proc."""

    def __init__(self, pid):
        self.pid = pid
        self.last = (self.cpu(), time.monotonic())

    def cpu(self):
        with open(f"/proc/{self.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def sample(self):
        status = {}
        with open(f"/proc/{self.pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                status[key] = value.split()
        cpu, now = self.cpu(), time.monotonic()
        share = (cpu - self.last[0]) / (now - self.last[1]) * 100
        self.last = (cpu, now)
        return {"rss": int(status["VmRSS"][0]) / 1024, "fds": len(os.listdir(f"/proc/{self.pid}/fd")),
                "threads": int(status["Threads"][0]), "cpu": share}


class UinputPad:
    """A gamepad the kernel makes (struct uinput_user_dev, the oldest uinput interface)."""
    UI_SET_EVBIT, UI_SET_KEYBIT, UI_SET_ABSBIT = 0x40045564, 0x40045565, 0x40045567
    UI_DEV_CREATE, UI_DEV_DESTROY = 0x5501, 0x5502
    EV_KEY, EV_ABS = 1, 3

    def __init__(self):
        self.fd = os.open("/dev/uinput", os.O_WRONLY | os.O_NONBLOCK)
        fcntl.ioctl(self.fd, self.UI_SET_EVBIT, self.EV_KEY)
        fcntl.ioctl(self.fd, self.UI_SET_EVBIT, self.EV_ABS)
        for button in range(0x130, 0x13F):  # BTN_SOUTH .. BTN_THUMBR
            fcntl.ioctl(self.fd, self.UI_SET_KEYBIT, button)
        absmax, absmin = [0] * 64, [0] * 64
        for axis in (0, 1, 3, 4):  # X, Y, RX, RY
            fcntl.ioctl(self.fd, self.UI_SET_ABSBIT, axis)
            absmin[axis], absmax[axis] = -32768, 32767
        dev = struct.pack("80sHHHHi64i64i64i64i", b"Zanth long-run pad", 3, 0x1234, 0x5678, 1, 0,
                          *absmax, *absmin, *([0] * 64), *([0] * 64))
        os.write(self.fd, dev)
        fcntl.ioctl(self.fd, self.UI_DEV_CREATE)

    def close(self):
        fcntl.ioctl(self.fd, self.UI_DEV_DESTROY)
        os.close(self.fd)


def pad_possible():
    if not os.path.exists("/dev/uinput"):
        return "no /dev/uinput here (the kernel offers no uinput to this machine), and a pad made inside " \
               "the process would not be plugged from outside"
    try:
        UinputPad().close()
    except OSError as e:
        return f"/dev/uinput refused: {e}"
    return None


def report(name, samples, base):
    if not samples:
        return
    first = samples[min(base, len(samples) - 1)]
    last = samples[-1]
    cpu = [s["cpu"] for s in samples]
    print(f"{name}: {len(samples)} samples; growth from sample {min(base, len(samples) - 1) + 1} to the last: "
          f"RSS {last['rss'] - first['rss']:+.1f} MB ({first['rss']:.1f} -> {last['rss']:.1f}), "
          f"descriptors {last['fds'] - first['fds']:+d}, threads {last['threads'] - first['threads']:+d}; "
          f"CPU mean {sum(cpu) / len(cpu):.2f} %, max {max(cpu):.2f} % of a core")


def sim_lines():
    with open(sim_log, "rb") as f:
        return f.read().count(b"\n")



def rss_slope(samples, since_s):
    """Least-squares slope of resident memory in MB per hour over the samples taken from since_s on."""
    points = [(s["at"], s["rss"]) for s in samples if s["at"] >= since_s]
    if len(points) < 3:
        return None
    mt = sum(t for t, _ in points) / len(points)
    mr = sum(r for _, r in points) / len(points)
    var = sum((t - mt) ** 2 for t, _ in points)
    return sum((t - mt) * (r - mr) for t, r in points) / var * 3600 if var else None


async def presser(url, token, stop):
    """One client: an item pressed every 200 ms and let go 100 ms later, by turns; everything the server sends
    is read, as a phone's page does."""
    import websockets
    items = ["1", "2", "3", "4", "L1", "R1"]
    async with websockets.connect(url, max_size=None) as ws:
        await ws.send(json.dumps({"v": 1, "type": "hello", "name": "soak", "token": token}))
        if json.loads(await ws.recv()).get("type") != "hello":
            raise SystemExit("soak client refused")

        async def drain():
            async for _ in ws:
                pass

        reader = asyncio.ensure_future(drain())
        n, start = 0, time.monotonic()
        while not stop.is_set():
            item = items[n % len(items)]
            await ws.send(json.dumps({"v": 1, "type": "press", "item": item}))
            await asyncio.sleep(0.1)
            await ws.send(json.dumps({"v": 1, "type": "release", "item": item}))
            n += 1
            await asyncio.sleep(max(0.0, start + n * 0.2 - time.monotonic()))
        reader.cancel()


def soak(emu, wid, run, port):
    probe = Probe(emu.pid)
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")  # Connect
    time.sleep(1.5)
    xdo("windowfocus", "--sync", wid, "key", "F1")  # the help menu: manual, about, the monitor
    time.sleep(0.3)
    xdo("key", "Down", "Down", "Down", "Return")
    time.sleep(1.0)
    if not xdo("search", "--onlyvisible", "--name", "Link Monitor"):
        raise SystemExit("the link monitor did not open")
    stop = threading.Event()
    client = threading.Thread(target=lambda: asyncio.run(presser(f"ws://127.0.0.1:{port}/ws",
                                                                 read_info(run)["token"], stop)), daemon=True)
    client.start()
    print(f"soak: {opts.minutes:g} min connected, Link Monitor open, a remote client pressing every 200 ms")
    print("   time  RSS MB  fds  threads  CPU %")
    samples, start = [], time.monotonic()
    while time.monotonic() - start < opts.minutes * 60 and client.is_alive():
        # The first sample as the soak begins: the start figure is taken before the soak's own growth.
        time.sleep(max(0.0, start + len(samples) * opts.sample - time.monotonic()))
        s = probe.sample()
        s["at"] = time.monotonic() - start
        samples.append(s)
        print(f"{s['at']:7.0f}  {s['rss']:6.1f}  {s['fds']:3d}  {s['threads']:7d}  {s['cpu']:5.2f}", flush=True)
    if not client.is_alive():
        print("the soak client ended early")
    stop.set()
    client.join(5)
    first, last = samples[0], samples[-1]
    print(f"RSS start {first['rss']:.1f} MB, end {last['rss']:.1f} MB ({last['rss'] - first['rss']:+.1f} MB "
          f"over {last['at'] / 60:.1f} min)")
    for since, what in ((60, "from the first minute on"), (660, "with the battery window full (from 11 min)")):
        slope = rss_slope(samples, since)
        if slope is not None:
            print(f"RSS slope {what}: {slope:+.2f} MB/h")
    report("soak", samples, 0)


def input_phases(emu, wid):
    probe = Probe(emu.pid)
    no_pad = pad_possible()
    print(f"gamepad: {'plugged and unplugged every minute' if no_pad is None else 'not plugged: ' + no_pad}")

    def click(x, y, button="1"):
        xdo("mousemove", "--window", wid, str(x), str(y), "click", button)

    inputs = [
        lambda: xdo("keydown", "q", "sleep", "0.1", "keyup", "q"),                    # L1
        lambda: xdo("mousemove", "--window", wid, "378", "382", "mousedown", "1", "sleep", "0.1", "mouseup", "1"),
        lambda: click(463, 567, "4"),                                                  # wheel on the slider
        lambda: click(463, 567, "5"),
        lambda: click(399, 318),                                                       # MODE: the LED
        lambda: xdo("key", "Right", "key", "Left"),
    ]

    print(f"phase 1: {opts.minutes:g} min connected, input every second, a sample every {opts.sample:g} s")
    print("   time  RSS MB  fds  threads  CPU %  messages")
    click(740, 438)  # Connect
    samples, pad = [], None
    start = time.monotonic()
    next_sample, next_pad, step, lines = start + opts.sample, start + 60, 0, sim_lines()
    while time.monotonic() - start < opts.minutes * 60:
        inputs[step % len(inputs)]()
        step += 1
        now = time.monotonic()
        if no_pad is None and now >= next_pad:
            if pad is None:
                pad = UinputPad()
            else:
                pad.close()
                pad = None
            next_pad += 60
        if now >= next_sample:
            s = probe.sample()
            total = sim_lines()
            samples.append(s)
            print(f"{now - start:7.0f}  {s['rss']:6.1f}  {s['fds']:3d}  {s['threads']:7d}  {s['cpu']:5.2f}  "
                  f"{total - lines}", flush=True)
            lines = total
            next_sample += opts.sample
        time.sleep(max(0.0, start + step - time.monotonic()))
    if pad is not None:
        pad.close()
    click(740, 438)  # Disconnect
    time.sleep(1)

    print(f"phase 2: {opts.cycles} Connect/Disconnect cycles")
    cycle_samples = [probe.sample()]
    finals = open(sim_log, "rb").read().count(b"\nK ")
    start, next_sample = time.monotonic(), time.monotonic() + opts.sample
    for i in range(opts.cycles):
        click(740, 438)
        time.sleep(0.25)
        click(740, 438)
        time.sleep(0.1)
        if time.monotonic() >= next_sample:
            s = probe.sample()
            cycle_samples.append(s)
            print(f"{time.monotonic() - start:7.0f}  {s['rss']:6.1f}  {s['fds']:3d}  {s['threads']:7d}  "
                  f"{s['cpu']:5.2f}  cycle {i + 1}", flush=True)
            next_sample += opts.sample
    time.sleep(1)
    cycle_samples.append(probe.sample())
    finals = open(sim_log, "rb").read().count(b"\nK ") - finals
    print(f"final frames seen on the wire: {finals} of {opts.cycles} disconnects")

    base = max(0, int(60 / opts.sample) - 1)  # the sample at the end of the first minute
    report("phase 1 (connected, input)", samples, base)
    report("phase 2 (connect cycles)", cycle_samples, 0)


try:
    start_xvfb()

    sim_log = os.path.join(work, "sim.log")
    sim_out = open(os.path.join(work, "sim.out"), "w+")
    spawn([f"{build}/tools/robot_sim/zanth-robot-sim", "--keep-open", "--log", sim_log], stdout=sim_out)
    deadline = time.monotonic() + 10
    while not open(sim_out.name).readline().endswith("\n") and time.monotonic() < deadline:
        time.sleep(0.05)
    pty = open(sim_out.name).readline().strip()
    run = os.path.join(work, "run")
    os.makedirs(run)
    subprocess.run([f"{build}/tools/ini_tool/zanth-ini", f"{run}/Zanth-Emulator.ini", "PORTS", "COM1", pty],
                   check=True)
    port = free_port() if opts.soak else None
    args = [f"--remote={port}"] if opts.soak else []
    program = os.path.abspath(opts.emulator) if opts.emulator else f"{build}/zanth-emulator"
    emu = spawn([program, "--lang", "en", *args], cwd=run,
                env=dict(os.environ, SDL_AUDIODRIVER="dummy"), stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "emulator.log"), "w"))
    wid = xdo("search", "--sync", "--onlyvisible", "--name", "Zanth").split()[0]
    xdo("windowfocus", "--sync", wid)
    time.sleep(1.0)
    if opts.soak:
        soak(emu, wid, run, port)
    else:
        input_phases(emu, wid)
    emu.send_signal(signal.SIGTERM)
    emu.wait(15)
finally:
    cleanup()
