#!/usr/bin/env python3
"""What the audio library plays of today's stations, and what each format costs, in one run.

Serves on loopback one station of each kind in the mix of a public station directory
(Radio Browser, 2025-04-27 snapshot: MP3 68 %, AAC and HE-AAC 27 %, Ogg 1 %, HLS 6.7 %, addresses
that answer with a playlist 13.7 %, HTTPS 56 %): the test Icecast (MP3, AAC, Vorbis, Opus, and
its TLS port) and tests/audio/server/hls_server.py (HLS, playlists, and an HE-AAC file when the
outside test material is there). Prints:

  - coverage: the share of that mix that plays (a handle and decoded sound), weighted by the
    figures above; AAC and HE-AAC share their 27 % evenly (the snapshot does not tell them apart);
  - processor time per minute of stream for AAC, HE-AAC, Vorbis, Opus and MP3, against
    `mpv --ao=null` on the same stream in the same run (goal: at most 0.25x mpv);
  - time from the connect call to the first played sample for HLS (goal: under 1 s);
  - the library's peak heap per format.

Usage: bench/formats_bench.py [SECONDS]   (build first: scripts/build.sh; mpv for the ratios)
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import urllib.parse

from stream_bench import BENCH, FIXTURE, ROOT, parse, run_for

HLS_SERVER = os.path.join(ROOT, "tests", "audio", "server", "hls_server.py")
MAKE_HLS = os.path.join(ROOT, "tests", "audio", "make_hls.sh")
EXTERNAL = os.path.join(ROOT, "..", "shared", "external", "aac")
HE_AAC = os.path.join(EXTERNAL, "he-aac", "pymediainfo_aac_he_v2.aac")


def start_hls_server(media):
    proc = subprocess.Popen([sys.executable, HLS_SERVER, "--media", media], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline().split()
    if len(line) != 2 or line[0] != "PORT":
        sys.exit("hls_server.py did not start")
    return proc, f"http://127.0.0.1:{line[1]}"


def probe(url, seconds=2, env=None):
    """stream_bench's figures for `url`, or None when it does not play."""
    run = subprocess.run([BENCH, url, str(seconds)], capture_output=True, text=True,
                         env=dict(os.environ, SDL_AUDIODRIVER="dummy", VORNEL_AUDIO_LOG="0", **(env or {})))
    if run.returncode != 0:
        return None
    values = parse(run.stdout)
    return values if values.get("first_sound_ms", -1) > 0 else None


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 30
    if not os.access(BENCH, os.X_OK):
        sys.exit("build first: scripts/build.sh")
    work = tempfile.mkdtemp(prefix="vornel-formats-bench-")
    run_dir = tempfile.mkdtemp(prefix="vornel-bench-")  # its own: Icecast, as nobody, must reach it
    media = os.path.join(work, "media")
    subprocess.run(["bash", MAKE_HLS, media], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    have_he_aac = os.path.exists(HE_AAC)
    if have_he_aac:
        shutil.copy(HE_AAC, os.path.join(media, "file", "heaac.aac"))  # a temporary copy, for this run only
    hls, hls_url = start_hls_server(media)
    subprocess.run(["bash", FIXTURE, "start", run_dir], check=True, stdout=subprocess.DEVNULL)
    try:
        env = dict(line.strip().split("=", 1) for line in open(os.path.join(run_dir, "icecast.env")) if "=" in line)
        ice = f"http://{env['HOST']}:{env['PORT']}"
        tls = f"https://{env['HOST']}:{env['TLS_PORT']}"
        # CURL_CA_BUNDLE is looked at first: both name the fixture's CA, whatever the shell set.
        trust = {"CURL_CA_BUNDLE": env["CA_FILE"], "SSL_CERT_FILE": env["CA_FILE"]}
        mp3 = ice + env["MOUNT_440"]
        quoted = urllib.parse.quote(mp3, safe="")
        he_aac = hls_url + "/file/heaac.aac?loop=1"

        # kind, weight in per cent of the directory, address, environment
        mix = [
            ("MP3", 68.0, mp3, None),
            ("AAC", 13.5, ice + env["MOUNT_AAC"], None),
            ("HE-AAC", 13.5, he_aac if have_he_aac else None, None),
            ("Ogg Vorbis", 0.5, ice + env["MOUNT_VORBIS"], None),
            ("Ogg Opus", 0.5, ice + env["MOUNT_OPUS"], None),
            ("HLS", 6.7, hls_url + "/ts/master.m3u8", None),
            ("PLS", 6.85, hls_url + "/list.pls?entries=" + quoted, None),
            ("M3U", 6.85, hls_url + "/list.m3u?entries=" + quoted, None),
            ("HTTPS", 56.0, tls + env["MOUNT_AAC"], trust),
        ]
        print("coverage of the directory's mix (one loopback station per kind):")
        played = total = 0.0
        for kind, weight, url, extra in mix:
            if url is None:
                print(f"  {kind:10s} {weight:5.1f} %  not measured (no sample in ../shared/external)")
                continue
            ok = probe(url, env=extra) is not None
            total += weight
            played += weight if ok else 0.0
            print(f"  {kind:10s} {weight:5.1f} %  {'plays' if ok else 'DOES NOT PLAY'}")
        # The kinds overlap (an HTTPS station is also MP3 or AAC), so the weights add up to more
        # than 100 %; the share is of their sum.
        print(f"  share of the mix that plays: {100.0 * played / total:.1f} %  (goal >= 99 %)")

        print(f"\nprocessor time per minute of stream, {seconds} s each, against mpv --ao=null:")
        streams = [("AAC", ice + env["MOUNT_AAC"]), ("HE-AAC", he_aac if have_he_aac else None),
                   ("Vorbis", ice + env["MOUNT_VORBIS"]), ("Opus", ice + env["MOUNT_OPUS"]), ("MP3", mp3)]
        heaps = {}
        for name, url in streams:
            if url is None:
                print(f"  {name:7s} not measured (no sample)")
                continue
            commands = {"vornel": [BENCH, url, str(seconds)]}
            if shutil.which("mpv"):
                commands["mpv"] = ["mpv", "--no-config", "--ao=null", "--vo=null", "--really-quiet", url]
            results = run_for(commands, seconds + 1)
            ours = parse(results["vornel"][1])
            heaps[name] = ours.get("heap_peak_bytes", 0)
            line = f"  {name:7s} vornel {ours['cpu_seconds'] * 60 / seconds:6.3f} s"
            if "mpv" in results:
                theirs = results["mpv"][0]
                line += f"   mpv {theirs * 60 / seconds:6.3f} s   ratio {ours['cpu_seconds'] / theirs:.2f}  (goal <= 0.25)"
            print(line)

        firsts = [probe(hls_url + "/ts/master.m3u8", 1) for _ in range(7)]
        firsts = [f["first_sound_ms"] for f in firsts if f]
        if firsts:
            print(f"\nHLS connect to first sample: median {statistics.median(firsts):.0f} ms, "
                  f"max {max(firsts):.0f} ms over {len(firsts)} connects  (goal < 1000)")
        hls_heap = probe(hls_url + "/ts/master.m3u8", 10)
        if hls_heap:
            heaps["HLS"] = hls_heap["heap_peak_bytes"]
        print("\nlibrary heap peak per format:")
        for name, peak in heaps.items():
            print(f"  {name:7s} {peak / 1048576:.2f} MiB")
    finally:
        subprocess.run(["bash", FIXTURE, "stop", run_dir], stdout=subprocess.DEVNULL)
        hls.stdin.close()
        hls.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(run_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
