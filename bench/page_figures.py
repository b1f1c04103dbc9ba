#!/usr/bin/python3
"""The remote page's figures against the running emulator (connected to the robot simulator, under a private
Xvfb): Lighthouse's mobile accessibility and performance scores, its first-load weight and request count, and
what a reload transfers (headless Chromium's resource timing). Lighthouse and its version come from
scripts/deps.sh (npm, pinned). Prints, never asserts.

usage: bench/page_figures.py BUILD_DIR [--runs N]
"""
import json, os, shutil, subprocess, sys, tempfile, time

from figures_common import cleanup, spawn, start_sim, start_xvfb, xdo

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 3
source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
work = tempfile.mkdtemp(prefix="zanth-bench.")
CHROME_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def npm_dir(name):
    return subprocess.run(["bash", "-c", f'source "{source}/scripts/deps.sh" && zanth_npm_dir {name}'],
                          check=True, capture_output=True, text=True).stdout.strip()


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_token(run):
    path = os.path.join(run, "remote.json")
    end = time.monotonic() + 20
    while time.monotonic() < end:
        try:
            with open(path) as f:
                return json.load(f)["token"]
        except (OSError, ValueError, KeyError):
            time.sleep(0.1)
    sys.exit(f"no token in {path}")


def lighthouse(cli, url, n):
    """One mobile Lighthouse run (its default form factor and throttling) in a fresh profile."""
    out = os.path.join(work, f"lh{n}.json")
    profile = os.path.join(work, f"lh-profile{n}")
    flags = " ".join(CHROME_FLAGS + [f"--user-data-dir={profile}"])
    subprocess.run(["node", cli, url, "--quiet", "--only-categories=accessibility,performance",
                    "--output=json", f"--output-path={out}", f"--chrome-flags={flags}"],
                   check=True, env=dict(os.environ, CHROME_PATH=shutil.which("chromium") or "/usr/bin/chromium"))
    with open(out) as f:
        report = json.load(f)
    audits = report["audits"]
    return {
        "accessibility": round(report["categories"]["accessibility"]["score"] * 100),
        "performance": round(report["categories"]["performance"]["score"] * 100),
        "bytes": audits["total-byte-weight"]["numericValue"],
        "requests": len(audits["network-requests"]["details"]["items"]),
        "failed": [k for k, a in audits.items() if a.get("score") == 0 and a.get("scoreDisplayMode") == "binary"],
    }


def reload_weight(url):
    """Bytes transferred by a first load and by a reload in the same browser, from resource timing."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    for arg in CHROME_FLAGS + [f"--user-data-dir={work}/reload-profile"]:
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    measure = """return performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))
                 .reduce((sum, e) => sum + e.transferSize, 0);"""
    try:
        driver.get(url)
        time.sleep(2)  # settled: the picture and the socket's first messages
        first = driver.execute_script(measure)
        driver.refresh()
        time.sleep(2)
        return first, driver.execute_script(measure)
    finally:
        driver.quit()


try:
    cli = os.path.join(npm_dir("lighthouse"), "cli", "index.js")
    start_xvfb()
    sim, run = start_sim(build, work)
    port = free_port()
    emu = spawn([f"{build}/zanth-emulator", "--lang", "en", f"--remote={port}"], cwd=run,
                env=dict(os.environ, SDL_AUDIODRIVER="dummy"), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wid = xdo("search", "--sync", "--onlyvisible", "--name", "Zanth").split()[0]
    xdo("windowfocus", "--sync", wid)
    xdo("mousemove", "--window", wid, "740", "438", "click", "1")  # Connect
    url = f"http://127.0.0.1:{port}/#token={read_token(run)}"
    version = subprocess.run(["node", cli, "--version"], capture_output=True, text=True).stdout.strip()
    print(f"Lighthouse {version}, mobile, {runs} runs against the connected page")
    results = [lighthouse(cli, url, n) for n in range(runs)]
    for r in results:
        print(f"  accessibility {r['accessibility']:3d}  performance {r['performance']:3d}  "
              f"first load {r['bytes'] / 1024:.1f} KB in {r['requests']} requests"
              + (f"  failed: {', '.join(r['failed'])}" if r["failed"] else ""))
    first, again = reload_weight(url)
    print(f"transferred: first load {first / 1024:.1f} KB, reload {again / 1024:.1f} KB")
finally:
    cleanup()
    shutil.rmtree(work, ignore_errors=True)
