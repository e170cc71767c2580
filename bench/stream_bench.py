#!/usr/bin/env python3
"""Streaming figures of the audio library against reference players, measured in one run.

Starts the test Icecast on loopback (tests/integration/icecast_fixture.sh), then plays its
128 kbit/s mount for SECONDS with three players at once: our library (build/bench/stream_bench,
SDL's dummy output), the mpg123 command-line player (-o dummy, the floor) and mpv (--ao=null).
Processor time is each process's own (user + system). Then measures the time from the connect
call to the first sample the output takes, over several connects, beside the time the server
itself takes to send its first body byte to a bare socket client: what is left is the library's.

Usage: bench/stream_bench.py [SECONDS]   (build first: scripts/build.sh)
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
BENCH = os.path.join(ROOT, "build", "bench", "stream_bench")
FIXTURE = os.path.join(ROOT, "tests", "integration", "icecast_fixture.sh")


def run_for(commands, seconds):
    """Runs the commands side by side for `seconds`; returns their processor seconds and output."""
    procs = {}
    for name, argv in commands.items():
        procs[name] = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                       stdin=subprocess.DEVNULL, env=dict(os.environ, SDL_AUDIODRIVER="dummy"))
    time.sleep(seconds)
    results = {}
    for name, proc in procs.items():
        if name != "vornel":
            proc.terminate()
        out = proc.stdout.read().decode(errors="replace")
        _, status, usage = os.wait4(proc.pid, 0)
        results[name] = (usage.ru_utime + usage.ru_stime, out)
    return results


def server_first_body_ms(host, port, mount):
    """Time from connecting to the first body byte for a client that does nothing but read."""
    start = time.monotonic()
    with socket.create_connection((host, port), timeout=10) as sock:
        sock.sendall(f"GET {mount} HTTP/1.0\r\nIcy-MetaData: 1\r\n\r\n".encode())
        received = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                raise RuntimeError("server closed before the body")
            received += chunk
            end = received.find(b"\r\n\r\n")
            if end >= 0 and len(received) > end + 4:
                return (time.monotonic() - start) * 1000


def parse(out):
    values = {}
    for line in out.splitlines():
        key, _, value = line.partition(" ")
        values[key] = float(value)
    return values


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 60
    if not os.access(BENCH, os.X_OK):
        sys.exit("build first: scripts/build.sh")
    run_dir = tempfile.mkdtemp(prefix="vornel-bench-")
    subprocess.run(["bash", FIXTURE, "start", run_dir], check=True, stdout=subprocess.DEVNULL)
    try:
        env = dict(line.strip().split("=", 1) for line in open(os.path.join(run_dir, "icecast.env")) if "=" in line)
        url = f"http://{env['HOST']}:{env['PORT']}{env['MOUNT_440']}"
        commands = {"vornel": [BENCH, url, str(seconds)]}
        if shutil.which("mpg123"):
            commands["mpg123"] = ["mpg123", "-q", "-o", "dummy", url]
        if shutil.which("mpv"):
            commands["mpv"] = ["mpv", "--no-config", "--ao=null", "--vo=null", "--really-quiet", url]
        results = run_for(commands, seconds + 1)
        ours = parse(results["vornel"][1])
        cpu = {name: r[0] for name, r in results.items()}
        cpu["vornel"] = ours["cpu_seconds"]  # the stream's own time, without the start-up

        print(f"stream: 128 kbit/s MP3 from Icecast on loopback, {seconds} s")
        for name, seconds_used in cpu.items():
            print(f"  cpu per minute  {name:7s} {seconds_used * 60 / seconds:7.3f} s")
        if "mpg123" in cpu:
            print(f"  ratio vornel/mpg123 {cpu['vornel'] / cpu['mpg123']:.2f}  (goal <= 2)")
        if "mpv" in cpu:
            print(f"  ratio vornel/mpv    {cpu['vornel'] / cpu['mpv']:.2f}  (goal <= 0.2)")
        print(f"  library heap peak   {ours['heap_peak_bytes'] / 1048576:.2f} MiB  (goal < 8)")

        firsts = []
        servers = []
        for _ in range(7):
            out = subprocess.run([BENCH, url, "1"], capture_output=True, text=True,
                                 env=dict(os.environ, SDL_AUDIODRIVER="dummy")).stdout
            firsts.append(parse(out)["first_sound_ms"])
            servers.append(server_first_body_ms(env["HOST"], int(env["PORT"]), env["MOUNT_440"]))
        print(f"  connect to first sample: {sorted(round(f) for f in firsts)} ms")
        print(f"  connect to first sample: median {statistics.median(firsts):.0f} ms, "
              f"max {max(firsts):.0f} ms over {len(firsts)} connects  (goal < 300)")
        print(f"  server's own first body byte (bare socket): median {statistics.median(servers):.0f} ms; "
              f"the library adds {statistics.median(firsts) - statistics.median(servers):.0f} ms")
    finally:
        subprocess.run(["bash", FIXTURE, "stop", run_dir], stdout=subprocess.DEVNULL)
        shutil.rmtree(run_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
