#!/usr/bin/env python3
"""Playback through faults: starts the scripted station server on loopback and runs
build/bench/resilience_bench against it (station-change and Stop call times on the user-interface
thread, reconnect time, processor time with recording off and on).

Usage: bench/resilience_bench.py [SECONDS]   (build first: scripts/build.sh; SECONDS per
recording measurement, default 30)
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH = os.path.join(ROOT, "build", "bench", "resilience_bench")
SERVER = os.path.join(ROOT, "tests", "audio", "server", "scripted_server.py")
TONE = os.path.join(ROOT, "build", "tests", "tones", "tone440.mp3")


def main():
    seconds = sys.argv[1] if len(sys.argv) > 1 else "30"
    if not os.access(BENCH, os.X_OK) or not os.path.exists(TONE):
        sys.exit("build first: scripts/build.sh (and the tests' tone files: cmake --build build)")
    work = tempfile.mkdtemp(prefix="vornel-resilience-")
    os.makedirs(os.path.join(work, "REC"))
    server = subprocess.Popen([sys.executable, SERVER, "--mp3", TONE], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        line = server.stdout.readline().split()
        if len(line) != 2 or line[0] != "PORT":
            sys.exit("the scripted server did not start")
        base = f"http://127.0.0.1:{line[1]}"
        subprocess.run([BENCH, base, os.path.join(work, "REC"), seconds], check=True)
    finally:
        server.stdin.close()
        server.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
