#!/usr/bin/env python3
"""Drives the robot round a figure-of-eight through Zanth-Emulator's remote-control API.

The program must be running with its remote-control server on (the Remote Control window, or --remote).
Each running program writes a file beside its settings file naming its server, its token and that settings
file: remote.json for Zanth-Emulator.ini, remote-NAME.json for NAME.ini. The robot is picked by its
settings file (--settings), or by the file itself (--info); without either, the script takes the program
of ./Zanth-Emulator.ini when there is one (a portable run in this folder), else the one of
~/.config/zanth-emulator/Zanth-Emulator.ini. It says hello, then moves
the left stick along a figure-of-eight (a lemniscate) for the laps asked, pinging between moves so that the
program never takes it for gone, and centres the stick at the end. Needs python3-websockets.

  remote_figure_eight.py [--settings INI | --info JSON] [--laps N] [--seconds-per-lap S] [--name NAME]
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


def default_settings():
    portable = pathlib.Path.cwd() / "Zanth-Emulator.ini"
    if portable.exists() or portable.is_symlink():
        return portable
    config = os.environ.get("XDG_CONFIG_HOME") or str(pathlib.Path.home() / ".config")
    return pathlib.Path(config) / "zanth-emulator" / "Zanth-Emulator.ini"


def info_of(settings):
    """The file the program running on `settings` writes beside it, as the program names it."""
    settings = pathlib.Path(os.path.abspath(settings))
    if settings.name.lower() == "zanth-emulator.ini":
        return settings.with_name("remote.json")
    return settings.with_name(f"remote-{settings.name.rsplit('.', 1)[0]}.json")


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
    robot = parser.add_mutually_exclusive_group()
    robot.add_argument("--settings", type=pathlib.Path, help="the settings file of the program to drive")
    robot.add_argument("--info", type=pathlib.Path, help="the file the program wrote for its server")
    parser.add_argument("--laps", type=int, default=1)
    parser.add_argument("--seconds-per-lap", type=float, default=4.0)
    parser.add_argument("--name", default="figure-of-eight")
    args = parser.parse_args()
    settings = args.settings or (None if args.info else default_settings())
    path = args.info or info_of(settings)
    try:
        info = json.loads(path.read_text())
    except (OSError, ValueError) as e:
        raise SystemExit(f"no running server found ({path}: {e})")
    # A file written for another settings file (an older program wrote one per folder) drives another robot.
    if settings and info.get("settings") and os.path.abspath(info["settings"]) != os.path.abspath(settings):
        raise SystemExit(f"{path} belongs to the program running on {info['settings']}, not {settings}")
    print(f"robot of {info.get('settings', path)}", flush=True)
    asyncio.run(drive(info, args.laps, args.seconds_per_lap, args.name))


if __name__ == "__main__":
    main()
