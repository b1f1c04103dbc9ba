#!/usr/bin/python3
"""The remote-control server under hostile connections, on the loopback addresses only, against the running
emulator and the robot simulator on a pseudo-terminal under a private Xvfb.

  a) connections that never say hello, reopened as soon as they are dropped (idle ones, and WebSockets that
     stay mute), while real clients come one every quarter second and say hello: how many got in;
  b) 500 idle TCP connections (opened once, and kept open by reopening what is dropped) while real clients
     try: how many got in;
  c) 0 to 3 greeted connections sending empty continuation frames or pings as fast as they can: the server
     thread's CPU share, and meanwhile a silent greeted client's press: its last word -> the first frame on
     the simulator's wire without the press, over N runs (min / median / max);
  d) 10,000 hellos with a wrong key: the program's stderr lines meanwhile (the Link Monitor's rows are not
     exposed outside the window; one per burst and reason is a unit test's business);
  e) a greeted client that stops reading and sending without closing: its last word -> its place freed
     (the `clients` count another client is told).

Every loop is bounded in count and in time; the script stops by itself and prints, never asserts.

usage: bench/remote_flood_figures.py BUILD_DIR [--runs N] [--seconds S] [--parts abcde]
"""
import asyncio, json, multiprocessing, os, select, socket, statistics, subprocess, sys, tempfile, time

import websockets

from figures_common import Wire, cleanup, free_port, read_info, spawn, start_sim, start_xvfb, xdo


def arg(name, default, kind):
    return kind(sys.argv[sys.argv.index(name) + 1]) if name in sys.argv else default


build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 and not sys.argv[1].startswith("--") else "build/test")
runs = arg("--runs", 20, int)
seconds = arg("--seconds", 30.0, float)
parts = arg("--parts", "abcde", str)
work = tempfile.mkdtemp(prefix="zanth-flood.")
CLK = os.sysconf("SC_CLK_TCK")


# ---- What the program does: its wire, its server thread, its stderr


def thread_cpu(pid, name):
    """CPU seconds of the program's threads called `name`."""
    total = 0.0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                if f.read().strip() != name:
                    continue
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / CLK
        except OSError:
            pass
    return total


def stderr_lines(path):
    with open(path, "rb") as f:
        return f.read().count(b"\n")


def read_token(run):
    return read_info(run)["token"]


def spread(values, unit="", fmt="{:.0f}"):
    if not values:
        return "none"
    f = lambda v: fmt.format(v) + unit
    return f"{f(min(values))} / {f(statistics.median(values))} / {f(max(values))}"


# ---- Raw connections (run in processes of their own, so that they never hold up the measuring clients)


def ws_head(port, host="127.0.0.1"):
    return (f"GET /ws HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n").encode()


def frame(opcode, payload=b"", fin=True):
    """A client's frame, masked with a zero mask (payloads under 126 bytes)."""
    return bytes([(0x80 if fin else 0) | opcode, 0x80 | len(payload)]) + b"\0\0\0\0" + payload


def hello_frame(token):
    return frame(1, json.dumps({"v": 1, "type": "hello", "name": "raw", "token": token}).encode())


def strangers(port, count, mode, stop, opened, deadline):
    """`count` connections that never say hello, each reopened as soon as it is dropped: `idle` (nothing
    sent) or `mute` (a WebSocket upgrade, then nothing). Loopback addresses only, by turns 127.0.0.1 and ::1
    when `mode` ends in '2'."""
    once = mode.endswith("once")
    mode = mode.removesuffix("once")
    both = mode.endswith("2")
    mode = mode.rstrip("2")
    sel, live = select.epoll(), {}

    def open_one(i):
        family, addr = (socket.AF_INET6, ("::1", port)) if both and i % 2 else (socket.AF_INET, ("127.0.0.1", port))
        s = socket.socket(family, socket.SOCK_STREAM)
        s.setblocking(False)
        s.connect_ex(addr)
        live[s.fileno()] = (s, i, False)
        sel.register(s.fileno(), select.EPOLLOUT | select.EPOLLIN | select.EPOLLRDHUP)
        with opened.get_lock():
            opened.value += 1

    for i in range(count):
        open_one(i)
    while not stop.is_set() and time.monotonic() < deadline:
        for fd, ev in sel.poll(0.05):
            s, i, sent = live[fd]
            gone = bool(ev & (select.EPOLLERR | select.EPOLLHUP | select.EPOLLRDHUP))
            if not gone and ev & select.EPOLLIN:
                try:
                    gone = not s.recv(4096)
                except OSError:
                    gone = True
            if gone:
                sel.unregister(fd)
                del live[fd]
                s.close()
                if not once:
                    open_one(i)
            elif ev & select.EPOLLOUT and not sent:
                if mode == "mute":
                    try:
                        s.send(ws_head(port, "[::1]" if s.family == socket.AF_INET6 else "127.0.0.1"))
                    except OSError:
                        pass
                live[fd] = (s, i, True)
                sel.modify(fd, select.EPOLLIN | select.EPOLLRDHUP)
    for s, _, _ in live.values():
        s.close()


def upgrade(port, timeout=2.0):
    """A raw WebSocket on 127.0.0.1, its 101 read."""
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    s.sendall(ws_head(port))
    got = b""
    while b"\r\n\r\n" not in got:
        chunk = s.recv(4096)
        if not chunk:
            raise OSError("closed during the handshake")
        got += chunk
    if not got.startswith(b"HTTP/1.1 101"):
        raise OSError(got.split(b"\r\n", 1)[0].decode(errors="replace"))
    return s


def flooder(port, token, index, stop, frames_sent, deadline):
    """A greeted connection that sends empty continuation frames (even `index`) or pings (odd) as fast as it
    can; when it is dropped it comes back and does it again."""
    burst = (frame(0, b"", fin=False) if index % 2 == 0 else frame(9)) * 1000
    while not stop.is_set() and time.monotonic() < deadline:
        try:
            s = upgrade(port)
            s.sendall(hello_frame(token))
            if index % 2 == 0:
                s.sendall(frame(1, b'{"v":1,"type":"ping"', fin=False))  # what the continuations continue
            s.setblocking(False)
            while not stop.is_set():
                try:
                    n = s.send(burst)
                    with frames_sent.get_lock():
                        frames_sent.value += n // 6
                except BlockingIOError:
                    select.select([], [s], [], 0.05)
                try:
                    if s.recv(65536) == b"":
                        break
                except BlockingIOError:
                    pass
            s.close()
        except OSError:
            time.sleep(0.005)


def wrong_keys(port, total, stop, done, deadline):
    """`total` hellos with a wrong key, four connections at a time, each sent once the 101 has come (as a
    WebSocket client does); each closed once the server's close frame (or its end) has come, as a script that
    gives up would."""
    bad = hello_frame("0" * 32)
    pending = {}  # socket: (opened at, bytes heard, hello sent)
    while (done.value < total or pending) and not stop.is_set() and time.monotonic() < deadline:
        while len(pending) < 4 and done.value + len(pending) < total:
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=2)
                s.sendall(ws_head(port))
                s.setblocking(False)
                pending[s] = (time.monotonic(), b"", False)
            except OSError:
                time.sleep(0.01)
                break
        ready, _, _ = select.select(list(pending), [], [], 0.1)
        for s in list(pending):
            t, got, said = pending[s]
            closed = time.monotonic() - t > 3
            if s in ready:
                try:
                    chunk = s.recv(65536)
                    got += chunk
                    closed = closed or not chunk
                    head, _, rest = got.partition(b"\r\n\r\n")
                    if _ and not said:
                        s.sendall(bad)
                        said = True
                    closed = closed or b"\x88" in rest
                except OSError:
                    closed = True
            if closed:
                s.close()
                del pending[s]
                with done.get_lock():
                    done.value += 1
            else:
                pending[s] = (t, got, said)


def run_in_process(target, *args):
    p = multiprocessing.Process(target=target, args=args, daemon=True)
    p.start()
    return p


# ---- Measuring clients (asyncio, websockets)


async def greet(url, token, name, timeout=5):
    ws = await websockets.connect(url, max_size=None, open_timeout=timeout)
    await ws.send(json.dumps({"v": 1, "type": "hello", "name": name, "token": token}))
    answer = json.loads(await asyncio.wait_for(ws.recv(), timeout))
    if answer.get("type") != "hello":
        await ws.close()
        raise OSError(f"refused: {answer}")
    return ws


async def attempt(url, token, name):
    """One real client: connect, say hello, be greeted, press and let go, leave. Returns how it went."""
    try:
        ws = await greet(url, token, name)
    except websockets.exceptions.InvalidStatusCode as e:
        return f"HTTP {e.status_code}"
    except (OSError, asyncio.TimeoutError, websockets.exceptions.WebSocketException) as e:
        return type(e).__name__
    try:
        await ws.send(json.dumps({"v": 1, "type": "press", "item": "2"}))
        await ws.send(json.dumps({"v": 1, "type": "release", "item": "2"}))
        await ws.close()
    except websockets.exceptions.WebSocketException:
        pass
    return "in"


async def real_clients(url, token, count, span):
    """`count` real clients spread over `span` seconds; returns the outcomes by kind."""
    tasks = []
    for i in range(count):
        tasks.append(asyncio.ensure_future(attempt(url, token, f"real {i + 1}")))
        await asyncio.sleep(span / count)
    outcomes = await asyncio.gather(*(asyncio.wait_for(t, 15) for t in tasks), return_exceptions=True)
    kinds = {}
    for o in outcomes:
        key = o if isinstance(o, str) else type(o).__name__
        kinds[key] = kinds.get(key, 0) + 1
    return kinds


async def silent_press(wire, url, token):
    """Hold 1, ping a little, fall silent: ms from the last word to the first frame without 1 (None if the
    client was refused or nothing was seen in time)."""
    try:
        ws = await greet(url, token, "silent")
    except (OSError, asyncio.TimeoutError, websockets.exceptions.WebSocketException):
        return None
    drain = asyncio.ensure_future(ws.wait_closed())
    try:
        await ws.send(json.dumps({"v": 1, "type": "press", "item": "1"}))
        t0 = time.monotonic()
        while time.monotonic() - t0 < 3 and not any("1" in held for _, held in wire.since(t0)):
            await ws.send('{"v":1,"type":"ping"}')
            await asyncio.sleep(0.05)
        for _ in range(3):
            await asyncio.sleep(0.07)
            await ws.send('{"v":1,"type":"ping"}')
        last = time.monotonic()
        while time.monotonic() - last < 3:
            gone = next((at for at, held in wire.since(last) if "1" not in held), None)
            if gone is not None:
                return (gone - last) * 1000
            await asyncio.sleep(0.005)
        return None
    except websockets.exceptions.WebSocketException:
        return None
    finally:
        drain.cancel()
        await ws.close()


async def observed_gone(url, token, port):
    """A raw client says hello and then neither reads nor sends nor closes; another client, pinging once a
    second, is told the number of clients. Seconds from the raw one's hello to its place freed."""
    watcher = await greet(url, token, "watcher")
    counts = []

    async def listen():
        async for text in watcher:
            m = json.loads(text)
            if m.get("type") == "state":
                counts.append((time.monotonic(), m.get("clients")))

    async def ping():
        while True:
            await watcher.send('{"v":1,"type":"ping"}')
            await asyncio.sleep(1)

    tasks = [asyncio.ensure_future(listen()), asyncio.ensure_future(ping())]
    raw = upgrade(port)
    raw.sendall(hello_frame(token))
    said = time.monotonic()
    freed = None
    try:
        while time.monotonic() - said < 40 and freed is None:
            await asyncio.sleep(0.02)
            if any(n == 2 for _, n in counts):
                freed = next((at for at, n in counts if at > said and n == 1 and
                              any(n2 == 2 and at2 < at for at2, n2 in counts)), None)
    finally:
        raw.close()
        for t in tasks:
            t.cancel()
        await watcher.close()
    return None if freed is None else freed - said


# ---- The parts


def part_a(port, url, token):
    for mode in ("idle", "mute"):
        stop, opened = multiprocessing.Event(), multiprocessing.Value("i", 0)
        p = run_in_process(strangers, port, 8, mode, stop, opened, time.monotonic() + seconds + 20)
        time.sleep(1)
        kinds = asyncio.run(real_clients(url, token, 120, seconds))
        stop.set()
        p.join(10)
        print(f"a) 8 {mode} connections without hello, reopened when dropped ({opened.value} opened): "
              f"{kinds.get('in', 0)} of 120 real clients got in over {seconds:.0f} s; {kinds}")


def part_b(port, url, token):
    for mode, label in (("idle2once", "opened once"), ("idle2", "kept open (reopened when dropped)")):
        stop, opened = multiprocessing.Event(), multiprocessing.Value("i", 0)
        p = run_in_process(strangers, port, 500, mode, stop, opened, time.monotonic() + seconds + 20)
        time.sleep(1)
        kinds = asyncio.run(real_clients(url, token, 120, seconds))
        stop.set()
        p.join(10)
        print(f"b) 500 idle TCP connections on 127.0.0.1 and ::1, {label}, {opened.value} opened: "
              f"{kinds.get('in', 0)} of 120 real clients got in over {seconds:.0f} s; {kinds}")


def stalls(errfile):
    """The link's word for a GUI thread that gave it no fresh frame for 300 ms (it sends the neutral frame)."""
    with open(errfile, "rb") as f:
        return f.read().count(b"no fresh frame")


def part_c(port, url, token, wire, pid, errfile):
    for floods in range(4):
        stalled = stalls(errfile)
        stop, sent = multiprocessing.Event(), multiprocessing.Value("q", 0)
        deadline = time.monotonic() + runs * 6 + 30
        procs = [run_in_process(flooder, port, token, i, stop, sent, deadline) for i in range(floods)]
        time.sleep(1)
        cpu0, t0 = thread_cpu(pid, "remote"), time.monotonic()

        async def silences():
            return [await silent_press(wire, url, token) for _ in range(runs)]

        times = asyncio.run(silences())
        share = (thread_cpu(pid, "remote") - cpu0) / (time.monotonic() - t0) * 100
        stop.set()
        for p in procs:
            p.join(10)
        seen = [t for t in times if t is not None]
        print(f"c) {floods} flooding connection(s), {sent.value} frames written: server thread {share:.1f} % of a core; "
              f"silent client's press off the wire {spread(seen, ' ms')} (min / median / max), "
              f"{sum(t <= 600 for t in seen)} of {runs} within 600 ms ({runs - len(seen)} not measured); "
              f"GUI stalls meanwhile: {stalls(errfile) - stalled}; outside 440-600 ms: "
              f"{[round(t) for t in seen if not 440 <= t <= 600]}")
        time.sleep(1.5)


def part_d(port, errfile):
    total = 10000
    before = stderr_lines(errfile)
    stop, done = multiprocessing.Event(), multiprocessing.Value("i", 0)
    t0 = time.monotonic()
    p = run_in_process(wrong_keys, port, total, stop, done, t0 + 300)
    p.join(310)
    took = time.monotonic() - t0
    time.sleep(2.5)  # the last folded count is told once its second is over
    with open(errfile, "rb") as f:
        lines = f.read().splitlines()[before:]
    refused = sum(b"refused" in line for line in lines)
    print(f"d) {done.value} hellos with a wrong key in {took:.1f} s: {len(lines)} stderr lines "
          f"({refused} about refusals); Link Monitor rows: not exposed outside the window")
    for line in lines[:6]:
        print("   ", line.decode(errors="replace")[:160])


def part_e(port, url, token):
    gone = []
    for _ in range(3):
        g = asyncio.run(observed_gone(url, token, port))
        if g is not None:
            gone.append(g)
    print(f"e) greeted client that stops reading and sending without a FIN: place freed after "
          f"{spread(gone, ' s', '{:.2f}')} (min / median / max of {len(gone)} of 3)")


try:
    start_xvfb()
    sim, run = start_sim(build, work)
    wire = Wire(sim.stdout)
    port = free_port()
    errfile = os.path.join(work, "stderr.txt")
    emu = spawn([f"{build}/zanth-emulator", "--lang", "en", f"--remote={port}"], cwd=run,
                env=dict(os.environ, SDL_AUDIODRIVER="dummy"), stdout=subprocess.DEVNULL, stderr=open(errfile, "wb"))
    wid = xdo("search", "--sync", "--onlyvisible", "--name", "Zanth").split()[0]
    xdo("windowfocus", "--sync", wid)
    token = read_token(run)
    url = f"ws://127.0.0.1:{port}/ws"
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")  # Connect
    time.sleep(2)
    print(f"load average at start: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
    for part, run_part in (("a", lambda: part_a(port, url, token)), ("b", lambda: part_b(port, url, token)),
                           ("c", lambda: part_c(port, url, token, wire, emu.pid, errfile)), ("d", lambda: part_d(port, errfile)),
                           ("e", lambda: part_e(port, url, token))):
        if part in parts:
            run_part()
            time.sleep(1.5)  # the server forgets the last part's connections
            if emu.poll() is not None:
                print(f"the program ended during part {part}: status {emu.returncode}")
                break
    if emu.poll() is None:
        xdo("mousemove", "--window", wid, "740", "438", "click", "1")  # Disconnect
        time.sleep(0.3)
        xdo("windowfocus", "--sync", wid, "key", "Escape")
        emu.wait(15)
finally:
    cleanup()
