#!/usr/bin/env python3
"""The whole player as a user runs it, side by side with reference players, in one run.

Starts a virtual display (Xvfb), a private session bus, a PulseAudio daemon whose only sink is
a null sink, and the test Icecast on loopback (tests/integration/icecast_fixture.sh). Then, one
player at a time so that none competes with another for the processor:

- the real `vornel` window (from a program folder whose stations.dat lists the 128 kbit/s MP3
  mount first), idle with the window shown, then playing that mount after a Play over MPRIS;
- `mpg123 -o pulse`, `mpv --ao=pulse` and `qmmp` (Pulse output) on the same mount, where they
  are installed.

Each figure is taken after a warm-up: whole-process processor time (utime + stime, and the
scheduler's exact on-CPU time), peak resident memory (VmHWM), and wake-ups (context switches
of all threads) per second. A player counts as playing only when PulseAudio shows its stream
uncorked on the null sink and the sink's monitor carries sound afterwards.

Usage: bench/whole_program_bench.py [--seconds 30] [--warmup 5] [--detail] [--sdl] [--vornel-only]
--sdl plays Vornel through SDL's PulseAudio driver (its output where no sound server runs), for
comparison with its own PulseAudio output.
VORNEL_BUILD_DIR names another build tree than build/ (needs its bin/vornel and bin/libbass.so);
VORNEL_BENCH_KEEP=1 keeps the run's folder (the players' logs, PulseAudio's, Icecast's).
"""
import argparse
import array
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VORNEL_BUILD_DIR", os.path.join(ROOT, "build"))
FIXTURE = os.path.join(ROOT, "tests", "integration", "icecast_fixture.sh")
MPRIS = "org.mpris.MediaPlayer2.vornel"
TICK = os.sysconf("SC_CLK_TCK")

GOAL_IDLE_CPU = 0.01  # s per 30 s
GOAL_PEAK_MIB = 40.0
GOAL_VS_MPG123 = 1.0
GOAL_VS_QMMP = 0.25


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted(f"signal {signum}")


class Processes:
    """Everything the run starts, each in a session of its own, so one kill reaches its helpers."""

    def __init__(self):
        self.procs = []

    def start(self, argv, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, start_new_session=True, **kwargs)
        self.procs.append(proc)
        return proc

    def stop(self, proc, grace=5.0):
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait()
        else:
            # A helper the leader left behind in its group still goes.
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
        if proc in self.procs:
            self.procs.remove(proc)

    def stop_all(self):
        for proc in reversed(list(self.procs)):
            self.stop(proc)


# --- /proc ---------------------------------------------------------------------------------

def read(path):
    with open(path) as f:
        return f.read()


def status_fields(path):
    fields = {}
    for line in read(path).splitlines():
        key, _, value = line.partition(":")
        fields[key] = value.strip()
    return fields


def kib(value):
    return int(value.split()[0]) if value else 0


def stat_times(path):
    """utime + stime in ticks from a stat file (the command name may hold spaces)."""
    text = read(path)
    rest = text[text.rindex(")") + 2:].split()
    return int(rest[11]) + int(rest[12])


def snapshot(pid):
    """Whole-process ticks, and per thread: name, ticks, exact on-CPU ns, context switches."""
    threads = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        base = f"/proc/{pid}/task/{tid}"
        try:
            status = status_fields(f"{base}/status")
            threads[int(tid)] = {
                "name": read(f"{base}/comm").strip(),
                "ticks": stat_times(f"{base}/stat"),
                "ns": int(read(f"{base}/schedstat").split()[0]),
                "switches": int(status["voluntary_ctxt_switches"]) + int(status["nonvoluntary_ctxt_switches"]),
            }
        except (FileNotFoundError, ProcessLookupError, KeyError):
            continue  # a thread that ended while we looked
    return {"ticks": stat_times(f"/proc/{pid}/stat"), "threads": threads}


def memory_detail(pid):
    rollup = {}
    for line in read(f"/proc/{pid}/smaps_rollup").splitlines()[1:]:
        key, _, value = line.partition(":")
        rollup[key.strip()] = kib(value.strip())
    mappings = []
    current = None
    for line in read(f"/proc/{pid}/smaps").splitlines():
        if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
            parts = line.split(None, 5)
            current = {"name": parts[5] if len(parts) > 5 else "[anonymous]", "perms": parts[1], "rss": 0, "anon": 0}
            mappings.append(current)
        elif current is not None and line.startswith("Rss:"):
            current["rss"] = kib(line.split(":", 1)[1].strip())
        elif current is not None and line.startswith("Anonymous:"):
            current["anon"] = kib(line.split(":", 1)[1].strip())
    by_name = {}
    for m in mappings:
        entry = by_name.setdefault(m["name"], {"rss": 0, "anon": 0, "count": 0})
        entry["rss"] += m["rss"]
        entry["anon"] += m["anon"]
        entry["count"] += 1
    kinds = {}
    for m in mappings:
        name = m["name"]
        base = os.path.basename(name)
        if base.startswith("libQt6"):
            kind = "Qt 6 libraries"
        elif base.startswith("libicu"):
            kind = "ICU"
        elif ".so" in base:
            kind = "other shared libraries"
        elif name.startswith("/"):
            kind = "other files (the program, fonts, locale, caches)"
        elif name == "[heap]":
            kind = "heap"
        else:
            kind = "anonymous mappings and stacks"
        kinds[kind] = kinds.get(kind, 0) + m["rss"]
    rollup["kinds"] = kinds
    top = sorted(mappings, key=lambda m: -m["rss"])[:10]
    top_files = sorted(by_name.items(), key=lambda kv: -kv[1]["rss"])[:40]
    return rollup, top, top_files


class Measurement:
    def __init__(self, label, pid, before, after, seconds, status):
        self.label = label
        self.seconds = seconds
        scale = 30.0 / seconds
        self.cpu = (after["ticks"] - before["ticks"]) / TICK * scale
        self.threads = []
        total_ns = 0
        total_switches = 0
        for tid, t in after["threads"].items():
            b = before["threads"].get(tid, {"ticks": 0, "ns": 0, "switches": 0})
            ns = t["ns"] - b["ns"]
            switches = t["switches"] - b["switches"]
            total_ns += ns
            total_switches += switches
            self.threads.append((tid, t["name"], (t["ticks"] - b["ticks"]) / TICK * scale, ns / 1e9 * scale,
                                 switches / seconds, tid not in before["threads"]))
        gone = set(before["threads"]) - set(after["threads"])
        self.threads_gone = len(gone)
        self.cpu_exact = total_ns / 1e9 * scale
        self.wakeups = total_switches / seconds
        self.peak_mib = kib(status.get("VmHWM")) / 1024
        self.rss_mib = kib(status.get("VmRSS")) / 1024
        self.thread_count = len(after["threads"])
        self.memory = None
        self.playing = None
        self.note = ""
        self.servers = {}


# What a player makes the sound server and the display server spend is not in its own figures.
SERVERS = {}


def server_ticks():
    return {name: stat_times(f"/proc/{pid}/stat") for name, pid in SERVERS.items()}


def measure(label, proc, warmup, seconds, detail):
    time.sleep(warmup)
    if proc.poll() is not None:
        raise RuntimeError(f"{label}: the process ended during the warm-up (exit {proc.returncode})")
    servers_before = server_ticks()
    before = snapshot(proc.pid)
    time.sleep(seconds)
    if proc.poll() is not None:
        raise RuntimeError(f"{label}: the process ended during the measurement (exit {proc.returncode})")
    after = snapshot(proc.pid)
    servers_after = server_ticks()
    m = Measurement(label, proc.pid, before, after, seconds, status_fields(f"/proc/{proc.pid}/status"))
    m.servers = {name: (servers_after[name] - servers_before[name]) / TICK * 30.0 / seconds for name in SERVERS}
    if detail:
        m.memory = memory_detail(proc.pid)
    return m


# --- the services ----------------------------------------------------------------------------

def wait_until(what, predicate, timeout=20.0, step=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise RuntimeError(f"timed out waiting for {what}")


def start_display(procs):
    read_end, write_end = os.pipe()
    xvfb = procs.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                       pass_fds=(write_end,))
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip():
        raise RuntimeError("Xvfb did not report a display")
    SERVERS["X"] = xvfb.pid
    return f":{number.decode().strip()}"


def start_bus(procs):
    bus = procs.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE)
    return bus.stdout.readline().decode().strip()


def start_pulse(procs, work, env):
    run = os.path.join(work, "pulse")
    os.makedirs(run, mode=0o700)
    socket_path = os.path.join(run, "native")
    config = os.path.join(work, "bench.pa")
    with open(config, "w") as f:
        f.write("load-module module-null-sink sink_name=bench rate=44100 channels=2\n"
                f"load-module module-native-protocol-unix auth-anonymous=1 socket={socket_path}\n"
                "set-default-sink bench\n")
    pulse = procs.start(["pulseaudio", "--daemonize=no", "-n", "-F", config, "--exit-idle-time=-1", "--disallow-exit",
                 "--disallow-module-loading", "--use-pid-file=no", "--log-target=stderr"],
                env=env, stderr=open(os.path.join(work, "pulseaudio.log"), "w"))
    SERVERS["pulse"] = pulse.pid
    server = f"unix:{socket_path}"
    wait_until("PulseAudio", lambda: subprocess.run(["pactl", "--server", server, "info"], env=env,
                                                    capture_output=True).returncode == 0)
    return server


def start_icecast(run_dir):
    subprocess.run(["bash", FIXTURE, "start", run_dir], check=True, stdout=subprocess.DEVNULL)
    values = dict(line.strip().split("=", 1) for line in open(os.path.join(run_dir, "icecast.env")) if "=" in line)
    return f"http://{values['HOST']}:{values['PORT']}{values['MOUNT_440']}"


# --- what a player is doing ----------------------------------------------------------------

def sink_inputs(env):
    """PulseAudio's streams: client process id and whether it is corked."""
    out = subprocess.run(["pactl", "list", "sink-inputs"], env=env, capture_output=True, text=True).stdout
    streams = []
    for block in out.split("Sink Input #")[1:]:
        pid = re.search(r'application\.process\.id = "(\d+)"', block)
        corked = re.search(r"Corked: (\w+)", block)
        streams.append((int(pid.group(1)) if pid else None, corked.group(1) == "yes" if corked else None))
    return streams


def process_tree(pid):
    pids = {pid}
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            for child in read(f"/proc/{pid}/task/{tid}/children").split():
                pids |= process_tree(int(child))
    except FileNotFoundError:
        pass
    return pids


def stream_of(env, pid):
    mine = process_tree(pid)
    return [corked for owner, corked in sink_inputs(env) if owner in mine]


def monitor_peak(env, seconds=1.0):
    """The loudest sample on the null sink's monitor over about a second."""
    rec = subprocess.Popen(["parec", "-d", "bench.monitor", "--raw", "--format=s16le", "--channels=2", "--rate=44100",
                            "--latency-msec=50"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                           start_new_session=True)
    try:
        wanted = int(44100 * 4 * seconds)
        data = b""
        deadline = time.monotonic() + seconds + 5
        while len(data) < wanted and time.monotonic() < deadline:
            chunk = rec.stdout.read1(65536)
            if not chunk:
                break
            data += chunk
    finally:
        os.killpg(rec.pid, signal.SIGTERM)
        rec.wait()
    samples = array.array("h", data[:len(data) // 2 * 2])
    return max((abs(s) for s in samples), default=0) / 32768.0


def check_playing(env, proc, label):
    streams = stream_of(env, proc.pid)
    if not streams:
        return False, "no stream on the null sink"
    if all(streams):
        return False, "its stream is corked"
    peak = monitor_peak(env)
    if peak < 0.05:
        return False, f"the sink is silent (peak {peak:.3f})"
    return True, f"peak {20 * math.log10(peak):.1f} dBFS"


def bus_call(env, method):
    subprocess.run(["dbus-send", "--session", f"--dest={MPRIS}", "--type=method_call", "--print-reply",
                    "/org/mpris/MediaPlayer2", f"org.mpris.MediaPlayer2.Player.{method}"],
                   env=env, check=True, capture_output=True, timeout=10)


def bus_property(env, name):
    out = subprocess.run(["dbus-send", "--session", f"--dest={MPRIS}", "--type=method_call", "--print-reply",
                          "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties.Get",
                          "string:org.mpris.MediaPlayer2.Player", f"string:{name}"],
                         env=env, capture_output=True, text=True, timeout=10)
    if out.returncode != 0:
        return None
    match = re.search(r"variant\s+\w+\s+(.*)", out.stdout)
    return match.group(1).strip().strip('"') if match else None


def window_shown(env, pid):
    if not shutil.which("xdotool"):
        return bus_property(env, "CanPlay") == "true"
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], env=env,
                         capture_output=True, text=True).stdout
    return bool(out.strip()) and bus_property(env, "CanPlay") == "true"


# --- the players ---------------------------------------------------------------------------

def program_folder(work, url):
    folder = os.path.join(work, "program")
    os.makedirs(folder)
    for name in ("vornel", "libbass.so"):
        shutil.copy2(os.path.join(BUILD, "bin", name), folder)
    # The player reads its directory as Windows-1251 with CR LF; the group name is Cyrillic so that
    # a wrong encoding would show.
    text = ("Vornel bench\r\n\r\n\r\n1\r\nПроверка\r\n"
            f"1|0|Тон 440 Гц|128|{url}\r\n")
    with open(os.path.join(folder, "stations.dat"), "wb") as f:
        f.write(text.encode("cp1251"))
    return folder


def run_vornel(procs, env, work, url, args, results):
    folder = program_folder(work, url)
    log = open(os.path.join(work, "vornel.log"), "w")
    proc = procs.start([os.path.join(folder, "vornel")], env=env, stdout=log, stderr=log, cwd=folder)
    try:
        wait_until("the window", lambda: proc.poll() is not None or window_shown(env, proc.pid), timeout=30)
        if proc.poll() is not None:
            raise RuntimeError(f"vornel ended at start (exit {proc.returncode}); see {log.name}")
        idle = measure("vornel, window shown, idle", proc, args.warmup, args.seconds, args.detail)
        streams = stream_of(env, proc.pid)
        idle.note = ("audio stream open while idle" + (" (corked)" if all(streams) else " (uncorked)")
                     if streams else "no audio stream while idle")
        results.append(idle)

        bus_call(env, "Play")
        wait_until("vornel playing", lambda: stream_of(env, proc.pid) and bus_property(env, "PlaybackStatus") == "Playing",
                   timeout=30)
        playing = measure("vornel, playing", proc, args.warmup, args.seconds, args.detail)
        playing.playing, playing.note = check_playing(env, proc, playing.label)
        results.append(playing)
    finally:
        procs.stop(proc)


def qmmp_home(work):
    home = os.path.join(work, "qmmp-home")
    os.makedirs(os.path.join(home, ".qmmp"))
    with open(os.path.join(home, ".qmmp", "qmmprc"), "w") as f:
        f.write("[Output]\ncurrent_plugin=pulse\n")
    return home


def run_reference(procs, env, work, name, argv, args, results, skipped):
    log = open(os.path.join(work, f"{name}.log"), "w")
    proc = procs.start(argv, env=env, stdout=log, stderr=log, cwd=work)
    try:
        # A first start in a fresh home may build caches first; on a busy machine that takes a while.
        try:
            wait_until(f"{name} playing",
                       lambda: proc.poll() is not None or any(not c for c in stream_of(env, proc.pid)), timeout=60)
        except RuntimeError:
            streams = stream_of(env, proc.pid)
            raise RuntimeError(f"not playing after 60 s ({'its stream is corked' if streams else 'no stream'})")
        if proc.poll() is not None:
            raise RuntimeError(f"{name} ended (exit {proc.returncode}); see {log.name}")
        m = measure(name, proc, args.warmup, args.seconds, False)
        m.playing, m.note = check_playing(env, proc, name)
        results.append(m)
    except RuntimeError as error:
        skipped.append(f"{name} not measured: {error}; VORNEL_BENCH_KEEP=1 keeps {log.name}")
    finally:
        procs.stop(proc)


# --- the report ----------------------------------------------------------------------------

def report(results, args, skipped):
    print(f"\nwhole processes, 128 kbit/s MP3 from Icecast on loopback into a PulseAudio null sink, "
          f"one player at a time; {args.seconds:g} s each after {args.warmup:g} s of warm-up; "
          f"processor time scaled to 30 s")
    print(f"{'':32} {'CPU/30 s':>9} {'on-CPU':>8} {'peak MiB':>9} {'wake-ups/s':>11} {'pulse':>6} {'X':>6}  playing?")
    for m in results:
        played = "" if m.playing is None else ("yes," if m.playing else "NO:")
        print(f"  {m.label:30} {m.cpu:9.2f} {m.cpu_exact:8.4f} {m.peak_mib:9.1f} {m.wakeups:11.1f} "
              f"{m.servers.get('pulse', 0):6.2f} {m.servers.get('X', 0):6.2f}  {played} {m.note}")
    for note in skipped:
        print(f"  ({note})")
    print(f"  CPU/30 s: utime + stime of the whole process, in ticks of 1/{TICK} s; on-CPU: the scheduler's exact time,\n"
          f"  summed over the threads alive at the end; pulse, X: what the PulseAudio daemon and Xvfb spent meanwhile")

    by = {m.label: m for m in results}
    idle = by.get("vornel, window shown, idle")
    playing = by.get("vornel, playing")
    print("\ngoals")
    if idle:
        # One stray wake-up in the window (an X event, a bus message) is not a periodic one.
        wakes = round(idle.wakeups * idle.seconds)
        ok = idle.cpu_exact < GOAL_IDLE_CPU and wakes <= 1
        print(f"  idle: {idle.cpu_exact:.4f} s per 30 s (goal < {GOAL_IDLE_CPU:g}), {wakes} wake-ups in "
              f"{idle.seconds:g} s (goal: none periodic)  {'met' if ok else 'NOT met'}")
    if playing:
        for ref, goal in (("mpg123 -o pulse", GOAL_VS_MPG123), ("qmmp", GOAL_VS_QMMP), ("mpv --ao=pulse", None)):
            if ref in by and by[ref].cpu_exact > 0:
                ratio = playing.cpu_exact / by[ref].cpu_exact
                target = f"(goal <= {goal:g})  {'met' if ratio <= goal else 'NOT met'}" if goal else "(no goal)"
                print(f"  playing / {ref}: {ratio:.2f} on-CPU, {playing.cpu / max(by[ref].cpu, 1e-9):.2f} "
                      f"utime+stime {target}")
        print(f"  playing peak memory {playing.peak_mib:.1f} MiB (goal <= {GOAL_PEAK_MIB:g})  "
              f"{'met' if playing.peak_mib <= GOAL_PEAK_MIB else 'NOT met'}")

    if args.detail:
        for m in (idle, playing):
            if m is None:
                continue
            print(f"\n{m.label}: threads ({m.thread_count} at the end, {m.threads_gone} ended during the measurement)")
            print(f"  {'thread':18} {'tid':>7} {'CPU/30 s':>9} {'on-CPU':>9} {'wake-ups/s':>11}")
            for tid, name, cpu, exact, wakes, new in sorted(m.threads, key=lambda t: (-t[3], -t[4])):
                print(f"  {name:18} {tid:7d} {cpu:9.2f} {exact:9.4f} {wakes:11.2f}{'  (new)' if new else ''}")
            if m.memory:
                rollup, top, top_files = m.memory
                print(f"  memory now: Rss {rollup.get('Rss', 0) / 1024:.1f} MiB, Pss {rollup.get('Pss', 0) / 1024:.1f}, "
                      f"Anonymous {rollup.get('Anonymous', 0) / 1024:.1f}, Pss_Anon "
                      f"{rollup.get('Pss_Anon', 0) / 1024:.1f}, Pss_File {rollup.get('Pss_File', 0) / 1024:.1f}, "
                      f"Shared_Clean {rollup.get('Shared_Clean', 0) / 1024:.1f}; peak {m.peak_mib:.1f} MiB")
                print("  Rss by kind: " + ", ".join(f"{kind} {kib_ / 1024:.1f}" for kind, kib_ in
                                                   sorted(rollup["kinds"].items(), key=lambda kv: -kv[1])))
                print("  top mappings by Rss:")
                for entry in top:
                    print(f"    {entry['rss'] / 1024:6.2f} MiB  anon {entry['anon'] / 1024:6.2f}  {entry['perms']}  "
                          f"{entry['name']}")
                print("  top files by Rss (all their mappings):")
                for name, entry in top_files:
                    print(f"    {entry['rss'] / 1024:6.2f} MiB  anon {entry['anon'] / 1024:6.2f}  x{entry['count']:<3} "
                          f"{name}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=30.0, help="length of each measurement (default 30)")
    parser.add_argument("--warmup", type=float, default=5.0, help="wait before each measurement (default 5)")
    parser.add_argument("--vornel-only", action="store_true", help="leave the reference players out")
    parser.add_argument("--sdl", action="store_true",
                        help="play Vornel through SDL's PulseAudio driver instead of its own PulseAudio output")
    parser.add_argument("--detail", action="store_true",
                        help="the player's threads and where its memory goes, idle and playing")
    args = parser.parse_args()

    needed = ["Xvfb", "dbus-daemon", "dbus-send", "pulseaudio", "pactl", "parec", "icecast2", "ffmpeg"]
    missing = [tool for tool in needed if not shutil.which(tool)]
    if missing:
        sys.exit("missing: " + " ".join(missing) + "  (see README, Benchmarks)")
    if not os.access(os.path.join(BUILD, "bin", "vornel"), os.X_OK):
        sys.exit(f"no player in {BUILD}/bin: build first (scripts/build.sh) or set VORNEL_BUILD_DIR")

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
    procs = Processes()
    work = tempfile.mkdtemp(prefix="vornel-whole-bench-")
    os.chmod(work, 0o755)  # Icecast drops root and must reach its run folder
    icecast_dir = None
    results, skipped = [], []
    try:
        home = os.path.join(work, "home")
        runtime = os.path.join(work, "runtime")
        os.makedirs(os.path.join(home, ".config", "pulse"))
        os.makedirs(runtime, mode=0o700)
        with open(os.path.join(home, ".config", "pulse", "client.conf"), "w") as f:
            f.write("autospawn = no\n")
        env = {k: v for k, v in os.environ.items()
               if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SDL_AUDIODRIVER", "PULSE_SERVER", "XDG_SESSION_TYPE")}
        env.update(HOME=home, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_DATA_HOME=os.path.join(home, ".local", "share"))

        print("starting Xvfb, the session bus, PulseAudio and Icecast ...", file=sys.stderr)
        env["DISPLAY"] = start_display(procs)
        env["DBUS_SESSION_BUS_ADDRESS"] = start_bus(procs)
        env["PULSE_SERVER"] = start_pulse(procs, work, env)
        icecast_dir = os.path.join(work, "icecast")
        url = start_icecast(icecast_dir)
        print(f"display {env['DISPLAY']}, stream {url}", file=sys.stderr)

        print("vornel ...", file=sys.stderr)
        vornel_env = dict(env, QT_QPA_PLATFORM="xcb")
        if args.sdl:
            vornel_env["SDL_AUDIODRIVER"] = "pulseaudio"
        run_vornel(procs, vornel_env, work, url, args, results)

        references = [
            ("mpg123 -o pulse", "mpg123", ["mpg123", "-q", "-o", "pulse", url], env),
            ("mpv --ao=pulse", "mpv", ["mpv", "--no-video", "--ao=pulse", "--really-quiet", url], env),
            ("qmmp", "qmmp", ["qmmp", url], None),
        ]
        if args.vornel_only:
            references = []
        for label, tool, argv, player_env in references:
            if not shutil.which(tool):
                skipped.append(f"{tool} is not installed: no {label} figures")
                continue
            if tool == "qmmp":
                player_env = dict(env, HOME=qmmp_home(work))
            print(f"{label} ...", file=sys.stderr)
            run_reference(procs, player_env, work, label, argv, args, results, skipped)
        report(results, args, skipped)
    except (KeyboardInterrupt, Interrupted):
        print("interrupted; cleaning up", file=sys.stderr)
        sys.exit(130)
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        procs.stop_all()
        if icecast_dir:
            subprocess.run(["bash", FIXTURE, "stop", icecast_dir], stdout=subprocess.DEVNULL)
        if os.environ.get("VORNEL_BENCH_KEEP"):
            print(f"kept {work}", file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
