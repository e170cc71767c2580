#!/usr/bin/env python3
"""The directory tool over the whole Radio Browser snapshot of the outside material
(../shared/external/station-directory/radio-browser), each run as one process:

- time and peak memory from the JSON file to stations.dat (goals < 2 s, < 200 MiB);
- the size of the directory with the default caps, and the stations with two or more bit rates;
- the player's start-up with that directory, launch to filled lists (goal < 300 ms).

Usage: bench/directory_tool_bench.py [runs]   (build first: scripts/build.sh; VORNEL_BUILD_DIR
names another build tree than build/)
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VORNEL_BUILD_DIR", os.path.join(ROOT, "build"))
TOOL = os.path.join(BUILD, "bin", "vornel-directory")
SNAPSHOT = os.path.join(ROOT, "..", "shared", "external", "station-directory", "radio-browser",
                        "stations-all-2025-04-27.json.xz")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import startup_bench  # noqa: E402  (shares the start-up measurement)


def build_once(source, output):
    started = time.monotonic()
    proc = subprocess.Popen([TOOL, "--input", source, "--output", output], stderr=subprocess.PIPE)
    report = proc.stderr.read().decode()
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.monotonic() - started
    assert status == 0, report
    return elapsed, usage.ru_maxrss / 1024, report


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    if not os.path.exists(SNAPSHOT):
        print(f"no snapshot at {SNAPSHOT}: nothing to measure")
        return
    work = tempfile.mkdtemp(prefix="vornel-directory-bench-")
    try:
        source = os.path.join(work, "stations.json")
        with open(source, "wb") as out:
            subprocess.run(["xz", "-dc", SNAPSHOT], stdout=out, check=True)
        output = os.path.join(work, "stations.dat")
        results = [build_once(source, output) for _ in range(runs)]
        times = [t for t, _, _ in results]
        peaks = [m for _, m, _ in results]
        report = results[-1][2]
        print(f"snapshot ({os.path.getsize(source) / 2**20:.1f} MiB of JSON) to stations.dat: median "
              f"{statistics.median(times) * 1000:.0f} ms, max {max(times) * 1000:.0f} ms over {runs} runs "
              f"(goal < 2 s); peak memory {max(peaks):.0f} MiB (goal < 200 MiB)")
        for line in ("entries read", "stations:", "stations written"):
            print("  " + next(l.strip() for l in report.splitlines() if l.startswith(line)))
        merged = re.search(r"merged into another's station:\s+(\d+)", report).group(1)
        print(f"  entries merged into another entry's station: {merged}")
        print(f"directory with the default caps: {os.path.getsize(output) / 1024:.0f} KiB")

        folder = tempfile.mkdtemp(prefix="vornel-startup-", dir=work)
        shutil.copy(os.path.join(BUILD, "bin", "libbass.so"), folder)
        shutil.copy(output, os.path.join(folder, "stations.dat"))
        ready = [startup_bench.run(folder, "http://127.0.0.1:1/client/stations.php")[0] for _ in range(7)]
        print(f"player launch to filled lists with it: median {statistics.median(ready) * 1000:.0f} ms, "
              f"max {max(ready) * 1000:.0f} ms over {len(ready)} runs (goal < 300 ms)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
