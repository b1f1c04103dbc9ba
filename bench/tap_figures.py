#!/usr/bin/python3
"""Short presses against the running emulator and the robot simulator on a pseudo-terminal, under a private
Xvfb: taps of 10, 30 and 50 ms from the keyboard (XTest), the mouse on the picture, one of the program's virtual
pads and a remote-control client, each at a random phase of the wire's rhythm, counted when a message to the
robot carries them; then key and pad presses held at random phases, timed against the next message. The frames are read
off the simulator's output with their arrival times. Prints, never asserts. --emulator runs another build's
program against this build's simulator (before/after).

usage: bench/tap_figures.py BUILD_DIR [--taps N] [--presses N] [--sources key,mouse,pad,remote] [--emulator PATH]
"""
import asyncio, json, os, random, statistics, subprocess, sys, tempfile, time

import websockets

from figures_common import Wire, cleanup, free_port, read_info, spawn, start_sim, start_xvfb, xdo

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/test")
taps = int(sys.argv[sys.argv.index("--taps") + 1]) if "--taps" in sys.argv else 30
presses = int(sys.argv[sys.argv.index("--presses") + 1]) if "--presses" in sys.argv else 100
sources = sys.argv[sys.argv.index("--sources") + 1].split(",") if "--sources" in sys.argv else ["key", "mouse", "pad", "remote"]
emulator = os.path.abspath(sys.argv[sys.argv.index("--emulator") + 1]) if "--emulator" in sys.argv else None
work = tempfile.mkdtemp(prefix="zanth-taps.")
LENGTHS_MS = [10, 30, 50]


def count_taps(wire, item, tap):
    """Taps of each length at random phases; how many a message carried."""
    counts = {}
    for ms in LENGTHS_MS:
        hits = 0
        for _ in range(taps):
            time.sleep(random.uniform(0.15, 0.4))
            t0 = time.monotonic()
            tap(ms / 1000)
            hits += wire.wait(t0, lambda held: item in held) is not None
            wire.wait(time.monotonic(), lambda held: item not in held)
        counts[ms] = hits
    return counts


def latency(wire, item, down, up):
    """A press held at a random phase: does the very next message carry it, and how long to it and to the frame?
    Timed from the return of the call that pressed (xdotool's, when the X server has taken the press)."""
    rides, to_frame, to_next = 0, [], []
    for _ in range(presses):
        time.sleep(random.uniform(0.15, 0.4))
        down()
        t0 = time.monotonic()
        seen = wire.wait(t0, lambda held: item in held)
        after = wire.since(t0)
        if seen is not None and after:
            to_frame.append((seen - t0) * 1000)
            to_next.append((after[0][0] - t0) * 1000)
            rides += item in after[0][1]
        up()
        wire.wait(time.monotonic(), lambda held: item not in held)
    return rides, to_frame, to_next, presses - len(to_frame)


try:
    start_xvfb()
    sim, run = start_sim(build, work)
    wire = Wire(sim.stdout)
    fifo = os.path.join(work, "pads")
    os.mkfifo(fifo)
    pads = os.open(fifo, os.O_RDWR | os.O_NONBLOCK)
    port = free_port()
    env = dict(os.environ, SDL_AUDIODRIVER="dummy", ZANTH_VIRTUAL_PADS="Pad@7a01:0001", ZANTH_VIRTUAL_PAD_INPUT=fifo)
    emu = spawn([emulator or f"{build}/zanth-emulator", "--lang", "en", f"--remote={port}"], cwd=run, env=env,
                stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "emulator.log"), "w"))
    wid = xdo("search", "--sync", "--onlyvisible", "--name", "Zanth").split()[0]
    xdo("windowfocus", "--sync", wid)
    info = read_info(run)
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")  # Connect
    if wire.wait(time.monotonic(), lambda held: True, 10) is None:
        sys.exit("not connected")

    def key(s):
        xdo("keydown", "u", "sleep", f"{s:.3f}", "keyup", "u")

    def mouse(s):
        xdo("mousemove", "--window", wid, "378", "382", "mousedown", "1", "sleep", f"{s:.3f}", "mouseup", "1")

    def pad(s):
        os.write(pads, b"0 button 2 1\n")
        time.sleep(s)
        os.write(pads, b"0 button 2 0\n")

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    client = []

    def remote(s):
        # One client for all its taps (the server closes one silent for 10 s: it speaks before each tap).
        async def go():
            if not client:
                client.append(await websockets.connect(info["ws"], ping_interval=None))
                await client[0].send(json.dumps({"v": 1, "type": "hello", "name": "taps", "token": info["token"]}))
                await client[0].recv()
            ws = client[0]
            await ws.send(json.dumps({"v": 1, "type": "ping"}))
            await ws.send(json.dumps({"v": 1, "type": "press", "item": "L2"}))
            await asyncio.sleep(s)
            await ws.send(json.dumps({"v": 1, "type": "release", "item": "L2"}))
        try:
            loop.run_until_complete(go())
        except (OSError, EOFError, websockets.exceptions.WebSocketException) as e:
            print(f"remote client refused: {e!r}")
            client.clear()

    for name, item, tap in [("key", "R1", key), ("mouse", "SELECT", mouse), ("pad", "1", pad), ("remote", "L2", remote)]:
        if name not in sources:
            continue
        counts = count_taps(wire, item, tap)
        print(f"taps {name:<6}: " + ", ".join(f"{ms} ms {n} of {taps}" for ms, n in counts.items()) +
              f" reached the robot (target {taps} of {taps})")

    for name, item, down, up in [("key", "L1", lambda: xdo("keydown", "q"), lambda: xdo("keyup", "q")),
                                 ("pad", "1", lambda: os.write(pads, b"0 button 2 1\n"),
                                  lambda: os.write(pads, b"0 button 2 0\n"))]:
        if not presses or name not in sources:
            continue
        rides, to_frame, to_next, unseen = latency(wire, item, down, up)
        if to_frame:
            print(f"{name} press -> frame on wire: {rides} of {len(to_frame)} ride the very next message "
                  f"(target >= 99 of 100); median {statistics.median(to_frame):.1f} ms to the frame, "
                  f"{statistics.median(to_next):.1f} ms to the next message "
                  f"({statistics.median(to_frame) - statistics.median(to_next):+.1f} ms, target within 5 ms); "
                  f"{unseen} not seen on the wire within 2 s")
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")  # Disconnect
    time.sleep(0.3)
    xdo("windowfocus", "--sync", wid, "key", "Escape")
    emu.wait(15)
finally:
    cleanup()
