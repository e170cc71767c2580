#!/usr/bin/env python3
"""What being on the session bus costs the player at start-up: launch to filled lists and peak
resident memory, the player alone (build/bench/startup_bench) against the player with its
media-player object, bus name and notifier (build/bench/startup_desktop_bench) on a private
session bus. Runs alternate, so both see the same machine.

Usage: bench/desktop_bench.py [runs]   (build first: scripts/build.sh; needs dbus-daemon)
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VORNEL_BUILD_DIR", os.path.join(ROOT, "build"))


def run(binary, folder, env):
    started = time.monotonic()
    proc = subprocess.Popen([os.path.join(BUILD, "bench", binary), folder, "http://127.0.0.1:1/client/stations.php"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    line = proc.stdout.readline().split()
    ready = time.monotonic() - started
    proc.stdout.read()
    proc.wait()
    assert line and line[0] == b"ready", line
    return ready, int(line[2]) / 1024.0


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    if not shutil.which("dbus-daemon"):
        sys.exit("dbus-daemon is not installed")
    folder = tempfile.mkdtemp(prefix="vornel-desktop-bench-")
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE)
    try:
        address = bus.stdout.readline().decode().strip()
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address, XDG_CONFIG_HOME=folder)
        shutil.copy(os.path.join(BUILD, "bin", "libbass.so"), folder)
        shutil.copy(os.path.join(ROOT, "directory", "client", "stations.php"), os.path.join(folder, "stations.dat"))
        alone, desktop = [], []
        for _ in range(runs):
            alone.append(run("startup_bench", folder, env))
            desktop.append(run("startup_desktop_bench", folder, env))
        for name, figures in (("player alone", alone), ("with the bus", desktop)):
            print(f"{name:>13}: launch to filled lists median {statistics.median(t for t, _ in figures) * 1000:.1f} ms, "
                  f"peak resident memory median {statistics.median(m for _, m in figures):.1f} MiB")
        dt = statistics.median(t for t, _ in desktop) - statistics.median(t for t, _ in alone)
        dm = statistics.median(m for _, m in desktop) - statistics.median(m for _, m in alone)
        print(f"the bus costs {dt * 1000:+.1f} ms (goal at most +20 ms) and {dm:+.2f} MiB (goal at most +2 MiB) "
              f"over {runs} runs each")
    finally:
        bus.terminate()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
