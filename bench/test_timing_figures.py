#!/usr/bin/env python3
"""Prints the timing figures the link and control tests record but never assert: a loaded machine may stretch
them, so the tests hold only the rules (lower bounds, the code's own budgets plus a stall) and the figures are
read here, over several runs.

Figures: the message period with and without a reply window, Disconnect and close on a line that takes
nothing, and how far the messages of a played recording stray from their recorded offsets (median and worst).

usage: bench/test_timing_figures.py BUILD_DIR [--runs N]
"""
import json, os, statistics, subprocess, sys, tempfile

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release")
runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 3
programs = {
    "zanth_link_tests": "LinkWorkerTest.CadenceFollowsTheReplyWindow",
    "zanth_control_tests": "SessionTest.DisconnectAndCloseReturnInTime*:PlaybackTest.ARecordedDrive*",
}
skip = {"name", "status", "result", "time", "timestamp", "classname", "file", "line", "failures"}
figures = {}
for run in range(runs):
    for program, tests in programs.items():
        with tempfile.NamedTemporaryFile(suffix=".json") as out:
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
            subprocess.run([os.path.join(build, "tests", program), "--gtest_filter=" + tests,
                            "--gtest_output=json:" + out.name], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            report = json.load(open(out.name))
        for suite in report.get("testsuites", []):
            for test in suite.get("testsuite", []):
                for key, value in test.items():
                    if key not in skip:
                        figures.setdefault(key, []).append(float(value))
for key in sorted(figures):
    v = figures[key]
    print(f"{key:24} median {statistics.median(v):8.2f}  min {min(v):8.2f}  max {max(v):8.2f}  ({len(v)} runs)")
