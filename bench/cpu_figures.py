#!/usr/bin/env python3
"""CPU share of the running emulator, idle and connected, under a private Xvfb with the robot simulator on a
pseudo-terminal. Prints the share of one core for each phase (from /proc, user + system time); with --perf, also
the functions that took the most of it (perf record, software cpu-clock, so it works without hardware counters).

usage: bench/cpu_figures.py BUILD_DIR [--seconds 60] [--perf]
"""
import os, signal, subprocess, sys, tempfile, time

from figures_common import cleanup, cpu_seconds, spawn, start_sim, start_xvfb, xdo

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 and not sys.argv[1].startswith("--") else "build/test")
seconds = float(sys.argv[sys.argv.index("--seconds") + 1]) if "--seconds" in sys.argv else 60.0
use_perf = "--perf" in sys.argv
work = tempfile.mkdtemp(prefix="zanth-cpu.")
def measure(pid, name):
    perf = None
    if use_perf:
        data = os.path.join(work, f"{name}.perf")
        perf = subprocess.Popen(["perf", "record", "-e", "cpu-clock", "-F", "999", "-g", "-p", str(pid), "-o", data],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cpu0, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    share = (cpu_seconds(pid) - cpu0) / (time.monotonic() - t0) * 100
    print(f"CPU {name:<9}: {share:.2f} % of one core over {seconds:.0f} s")
    if perf:
        perf.send_signal(signal.SIGINT)
        perf.wait(30)
        report = subprocess.run(["perf", "report", "-i", data, "--no-children", "--sort", "dso,symbol", "--stdio",
                                 "-g", "none", "--percent-limit", "2"], capture_output=True, text=True).stdout
        print("\n".join(l for l in report.splitlines() if l.strip() and not l.startswith("#")))
    return share


try:
    start_xvfb()
    sim, run = start_sim(build, work)
    subprocess.Popen(["cat"], stdin=sim.stdout, stdout=subprocess.DEVNULL)  # the simulator never blocks
    emu = spawn([f"{build}/zanth-emulator", "--lang", "en"], cwd=run, env=dict(os.environ, SDL_AUDIODRIVER="dummy"),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wid = xdo("search", "--sync", "--onlyvisible", "--name", "Zanth").split()[0]
    xdo("windowfocus", "--sync", wid)
    time.sleep(3)
    measure(emu.pid, "idle")
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")
    time.sleep(3)
    measure(emu.pid, "connected")
    print("targets: idle <= 0.5 %, connected <= 1 %")
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")
    time.sleep(0.3)
    xdo("windowfocus", "--sync", wid, "key", "Escape")
    emu.wait(15)
finally:
    cleanup()
