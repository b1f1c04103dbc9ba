"""What the figure scripts share: child processes ended on the way out, a private Xvfb, the robot simulator on a
pseudo-terminal with a settings file that maps COM1 to it, xdotool, the CPU time of a process, the simulator's
decoded lines as they arrive, a free loopback port and the remote server's file."""
import json, os, select, signal, socket, subprocess, sys, threading, time

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


class LineReader:
    """The simulator's lines, read on a thread; parse(text, arrival) makes each an entry whose first field is
    a time, or None to leave it out."""

    def __init__(self, stream):
        self.lines, self.lock = [], threading.Lock()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def parse(self, text, now):
        raise NotImplementedError

    def _read(self, stream):
        buf = b""
        while True:
            if not select.select([stream], [], [], 0.5)[0]:
                continue
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                return
            now = time.monotonic()
            buf += chunk
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                entry = self.parse(line.decode(errors="replace"), now)
                if entry is not None:
                    with self.lock:
                        self.lines.append(entry)

    def since(self, t):
        with self.lock:
            return [entry for entry in self.lines if entry[0] >= t]


class Wire(LineReader):
    """The simulator's decoded lines as (monotonic time of arrival, set of buttons held)."""

    def parse(self, text, now):
        parts = text.split(" | ")
        if len(parts) >= 2 and parts[1].startswith("buttons:"):
            return now, set(parts[1][len("buttons:"):].split()) - {"-"}
        return None

    def wait(self, t, test, limit=2.0):
        """The arrival time of the first line after t that passes test, or None."""
        end = time.monotonic() + limit
        while time.monotonic() < end:
            hit = next((at for at, held in self.since(t) if test(held)), None)
            if hit is not None:
                return hit
            time.sleep(0.003)
        return None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_info(run):
    """The remote server's file of a portable run (port, token, addresses), waited for up to 20 s."""
    end = time.monotonic() + 20
    while time.monotonic() < end:
        try:
            with open(os.path.join(run, "remote.json")) as f:
                return json.load(f)
        except (OSError, ValueError):
            time.sleep(0.1)
    sys.exit("no remote.json")
