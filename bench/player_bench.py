#!/usr/bin/env python3
"""The whole player against reference players on the same stream, in the same run.

Starts the test Icecast on loopback, makes a program folder whose stations.dat lists its
128 kbit/s mount, and runs side by side for SECONDS: the player (build/bench/player_bench: the
real window offscreen and the real audio library, a click on the station), the mpg123
command-line player (-o dummy) and mpv (--ao=null). Reports, per whole process, processor time
and peak resident memory; and the player's time from the click to playing.

Usage: bench/player_bench.py [SECONDS]   (build first: scripts/build.sh)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH = os.path.join(ROOT, "build", "bench", "player_bench")
LIBRARY = os.path.join(ROOT, "build", "bin", "libbass.so")
FIXTURE = os.path.join(ROOT, "tests", "integration", "icecast_fixture.sh")


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 60
    if not os.access(BENCH, os.X_OK):
        sys.exit("build first: scripts/build.sh")
    work = tempfile.mkdtemp(prefix="vornel-player-bench-")
    os.chmod(work, 0o755)  # Icecast drops root and must reach its run folder
    run_dir = os.path.join(work, "icecast")
    folder = os.path.join(work, "program")
    os.makedirs(folder)
    subprocess.run(["bash", FIXTURE, "start", run_dir], check=True, stdout=subprocess.DEVNULL)
    try:
        env = dict(line.strip().split("=", 1) for line in open(os.path.join(run_dir, "icecast.env")) if "=" in line)
        url = f"http://{env['HOST']}:{env['PORT']}{env['MOUNT_440']}"
        shutil.copy(LIBRARY, folder)
        with open(os.path.join(folder, "stations.dat"), "wb") as f:
            f.write(f"bench\r\n\r\n\r\n1\r\nBench\r\n1|0|Tone|128|{url}\r\n".encode("cp1251"))

        quiet = dict(os.environ, SDL_AUDIODRIVER="dummy", QT_QPA_PLATFORM="offscreen")
        procs = {"vornel": subprocess.Popen([BENCH, folder, str(seconds)], stdout=subprocess.PIPE,
                                            stderr=subprocess.DEVNULL, env=quiet)}
        if shutil.which("mpg123"):
            procs["mpg123"] = subprocess.Popen(["mpg123", "-q", "-o", "dummy", url], stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL)
        if shutil.which("mpv"):
            procs["mpv"] = subprocess.Popen(["mpv", "--no-config", "--ao=null", "--vo=null", "--really-quiet", url],
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(seconds + 1)
        results = {}
        for name, proc in procs.items():
            if name != "vornel":
                proc.terminate()
            _, _, usage = os.wait4(proc.pid, 0)
            results[name] = (usage.ru_utime + usage.ru_stime, usage.ru_maxrss)
        ours = {}
        for line in procs["vornel"].stdout.read().decode().splitlines():
            key, _, value = line.partition(" ")
            ours[key] = float(value)

        print(f"whole processes, 128 kbit/s MP3 from Icecast on loopback, {seconds} s")
        for name, (cpu, rss) in results.items():
            print(f"  {name:7s} cpu {cpu * 60 / seconds:6.3f} s per minute   peak memory {rss / 1024:6.1f} MiB")
        print(f"  click to playing: {ours['click_to_playing_ms']:.0f} ms")
    finally:
        subprocess.run(["bash", FIXTURE, "stop", run_dir], stdout=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
