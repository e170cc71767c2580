#!/usr/bin/env python3
"""Start-up figures of the whole player, each as one process (build/bench/startup_bench):

- launch to a filled station list with the cached directory (the server refuses the connection);
- processor time used while it waits the full 30 seconds for a server that accepts the
  connection and never answers.

Usage: bench/startup_bench.py [stations.dat]   (build first: scripts/build.sh)
The cached directory is the bundled one unless a file is given; VORNEL_BUILD_DIR names another
build tree than build/.
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VORNEL_BUILD_DIR", os.path.join(ROOT, "build"))
BENCH = os.path.join(BUILD, "bench", "startup_bench")


def run(folder, address):
    started = time.monotonic()
    proc = subprocess.Popen([BENCH, folder, address], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    line = proc.stdout.readline()
    ready = time.monotonic() - started
    proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    assert line.startswith(b"ready"), line
    return ready, usage.ru_utime + usage.ru_stime


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "directory", "client", "stations.php")
    folder = tempfile.mkdtemp(prefix="vornel-startup-bench-")
    try:
        shutil.copy(os.path.join(BUILD, "bin", "libbass.so"), folder)
        shutil.copy(directory, os.path.join(folder, "stations.dat"))
        cached = [run(folder, "http://127.0.0.1:1/client/stations.php") for _ in range(7)]
        times = [t for t, _ in cached]
        baseline = statistics.median(c for _, c in cached)
        print(f"launch to filled station list, cached directory: median {statistics.median(times) * 1000:.0f} ms, "
              f"max {max(times) * 1000:.0f} ms over {len(times)} runs  (goal < 300 ms)")

        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)  # accepts through the kernel's backlog and never answers
        port = listener.getsockname()[1]
        ready, cpu = run(folder, f"http://127.0.0.1:{port}/client/stations.php")
        listener.close()
        print(f"waiting for a silent server: ready after {ready:.1f} s; processor time {cpu:.3f} s for the "
              f"whole start-up against {baseline:.3f} s without the wait, so {max(0.0, cpu - baseline):.3f} s "
              f"for the wait  (goal < 0.1 s)")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
