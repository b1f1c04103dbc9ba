#!/usr/bin/env python3
"""Drives the robot round a figure-of-eight through Zanth-Emulator's remote-control API.

The program must be running with its remote-control server on (the Remote Control window, or --remote).
The script finds the server and its token in remote.json beside the settings file, says hello, then moves
the left stick along a figure-of-eight (a lemniscate) for the laps asked, pinging between moves so that the
program never takes it for gone, and centres the stick at the end. Needs python3-websockets.

  remote_figure_eight.py [--info PATH] [--laps N] [--seconds-per-lap S] [--name NAME]
"""
import argparse
import asyncio
import json
import math
import os
import pathlib
import sys

import websockets

STEP_S = 0.05  # a stick message every 50 ms; each one also keeps the client alive


def default_info():
    config = os.environ.get("XDG_CONFIG_HOME") or str(pathlib.Path.home() / ".config")
    return pathlib.Path(config) / "zanth-emulator" / "remote.json"


def figure_eight(t):
    """The point of the figure at t (0..1 per lap): x right, y down, each within -1..1."""
    a = 2 * math.pi * t
    return math.sin(a), math.sin(a) * math.cos(a) * 2 * 0.9


async def drive(info, laps, seconds_per_lap, name):
    async with websockets.connect(info["ws"]) as ws:
        await ws.send(json.dumps({"v": 1, "type": "hello", "name": name, "token": info["token"]}))
        hello = json.loads(await ws.recv())
        if hello.get("type") != "hello":
            raise SystemExit(f"refused: {hello.get('reason', hello)}")
        print(f"driving {hello['program']} {hello['version']}", flush=True)

        async def drain():
            async for text in ws:
                message = json.loads(text)
                if message.get("type") == "error":
                    print(f"error: {message.get('reason')}", file=sys.stderr, flush=True)

        reader = asyncio.create_task(drain())
        steps = max(1, round(seconds_per_lap / STEP_S))
        try:
            for i in range(laps * steps + 1):
                x, y = figure_eight(i / steps)
                await ws.send(json.dumps({"v": 1, "type": "sticks", "lx": round(x, 3), "ly": round(y, 3)}))
                await asyncio.sleep(STEP_S)
        finally:
            await ws.send(json.dumps({"v": 1, "type": "release_all"}))
            reader.cancel()
        print("done", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--info", type=pathlib.Path, default=default_info(), help="the server's remote.json")
    parser.add_argument("--laps", type=int, default=1)
    parser.add_argument("--seconds-per-lap", type=float, default=4.0)
    parser.add_argument("--name", default="figure-of-eight")
    args = parser.parse_args()
    try:
        info = json.loads(args.info.read_text())
    except (OSError, ValueError) as e:
        raise SystemExit(f"no running server found ({args.info}: {e})")
    asyncio.run(drive(info, args.laps, args.seconds_per_lap, args.name))


if __name__ == "__main__":
    main()
