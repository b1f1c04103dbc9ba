#!/usr/bin/env python3
"""CPU share of the running emulator, idle and connected, under a private Xvfb with the robot simulator on a
pseudo-terminal; then the same with the remote-control server on and no client. Prints the share of one core for
each phase (every thread's run time from /proc/PID/task/*/schedstat, in nanoseconds), and with --threads each
thread's share and wake-ups a second, which tell a timer that ticks for nothing from work that costs; with
--perf, also the functions that took the most of it (perf record, software cpu-clock, so it works without
hardware counters). --emulator runs another build's program against this build's simulator (before/after).

usage: bench/cpu_figures.py BUILD_DIR [--seconds 60] [--threads] [--perf] [--emulator PATH]
"""
import argparse, os, signal, subprocess, tempfile, time

from figures_common import cleanup, free_port, spawn, start_sim, start_xvfb, xdo

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build/test")
parser.add_argument("--seconds", type=float, default=60.0)
parser.add_argument("--threads", action="store_true")
parser.add_argument("--perf", action="store_true")
parser.add_argument("--emulator")
opts = parser.parse_args()
build = os.path.abspath(opts.build)
emulator = os.path.abspath(opts.emulator) if opts.emulator else f"{build}/zanth-emulator"
work = tempfile.mkdtemp(prefix="zanth-cpu.")


def threads(pid):
    """{tid: (name, run time in ns, voluntary switches)} of the process's live threads."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                ns = int(f.read().split()[0])
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                wakes = int(f.read().split("voluntary_ctxt_switches:")[1].split()[0])
        except (OSError, IndexError):
            continue  # ended meanwhile
        out[tid] = (name, ns, wakes)
    return out


def perf_report(perf, data):
    perf.send_signal(signal.SIGINT)
    perf.wait(30)
    report = subprocess.run(["perf", "report", "-i", data, "--no-children", "--sort", "dso,symbol", "--stdio",
                             "-g", "none", "--percent-limit", "2"], capture_output=True, text=True).stdout
    print("\n".join(l for l in report.splitlines() if l.strip() and not l.startswith("#")))


def measure(pid, name):
    perf = None
    if opts.perf:
        data = os.path.join(work, f"{name.replace(' ', '_')}.perf")
        perf = subprocess.Popen(["perf", "record", "-e", "cpu-clock", "-F", "999", "-g", "-p", str(pid), "-o", data],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    before, t0 = threads(pid), time.monotonic()
    time.sleep(opts.seconds)
    after, span = threads(pid), time.monotonic() - t0
    # A thread that ended meanwhile is missed; one that began counts from its start.
    shares = {tid: (after[tid][0], (ns - before.get(tid, (0, 0, 0))[1]) / 1e7 / span,
                    (wakes - before.get(tid, (0, 0, 0))[2]) / span)
              for tid, (_, ns, wakes) in after.items()}
    total = sum(share for _, share, _ in shares.values())
    print(f"CPU {name:<26}: {total:.2f} % of one core over {opts.seconds:.0f} s", flush=True)
    if opts.threads:
        for tid, (thread, share, wakes) in sorted(shares.items(), key=lambda t: -t[1][1]):
            if share >= 0.005 or wakes >= 1:
                print(f"    {thread:<18} {share:5.2f} %  {wakes:6.1f} wake-ups/s")
    if perf:
        perf_report(perf, data)
    return total


def run(remote):
    """Idle, then connected, one program; with the remote server on (no client) when `remote`."""
    sim, folder = start_sim(build, tempfile.mkdtemp(dir=work))
    subprocess.Popen(["cat"], stdin=sim.stdout, stdout=subprocess.DEVNULL)  # the simulator never blocks
    args = [f"--remote={free_port()}"] if remote else []
    emu = spawn([emulator, "--lang", "en", *args], cwd=folder, env=dict(os.environ, SDL_AUDIODRIVER="dummy"),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wid = xdo("search", "--sync", "--onlyvisible", "--name", "Zanth").split()[0]
    xdo("windowfocus", "--sync", wid)
    time.sleep(3)
    suffix = ", remote server on" if remote else ""
    figures = (measure(emu.pid, "idle" + suffix),)
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")
    time.sleep(3)
    figures += (measure(emu.pid, "connected" + suffix),)
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")
    time.sleep(0.3)
    xdo("windowfocus", "--sync", wid, "key", "Escape")
    emu.wait(15)
    sim.terminate()
    return figures


try:
    start_xvfb()
    plain = run(False)
    served = run(True)
    print(f"summary: idle {plain[0]:.2f} %, connected {plain[1]:.2f} %; with the remote server on and no client: "
          f"idle {served[0]:.2f} %, connected {served[1]:.2f} %")
    print("targets: idle <= 0.3 %, connected <= 0.6 %, with the remote server on too")
finally:
    cleanup()
