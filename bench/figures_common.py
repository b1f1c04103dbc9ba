"""What the figure scripts share: child processes ended on the way out, a private Xvfb, the robot simulator on a
pseudo-terminal with a settings file that maps COM1 to it, xdotool, and the CPU time of a process."""
import os, signal, subprocess

procs = []


def spawn(*args, **kw):
    p = subprocess.Popen(*args, **kw)
    procs.append(p)
    return p


def cleanup():
    for p in reversed(procs):
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()


def xdo(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout.strip()


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def start_xvfb():
    """A private X server (no auto-repeat, no reset); DISPLAY names it from then on."""
    r, w = os.pipe()
    spawn(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-r", "-noreset", "-nolisten", "tcp"],
          pass_fds=[w], stderr=subprocess.DEVNULL)
    os.close(w)
    os.environ["DISPLAY"] = ":" + os.read(r, 64).decode().strip()
    os.environ.pop("WAYLAND_DISPLAY", None)


def start_sim(build, work):
    """The simulator (its decoded lines on the returned process's stdout) and work/run/Zanth-Emulator.ini with
    COM1 mapped to it; returns (simulator, run folder)."""
    sim = spawn([f"{build}/tools/robot_sim/zanth-robot-sim", "--keep-open"], stdout=subprocess.PIPE)
    pty = sim.stdout.readline().decode().strip()
    run = os.path.join(work, "run")
    os.makedirs(run)
    subprocess.run([f"{build}/tools/ini_tool/zanth-ini", f"{run}/Zanth-Emulator.ini", "PORTS", "COM1", pty], check=True)
    return sim, run
