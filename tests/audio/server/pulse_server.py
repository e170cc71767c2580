#!/usr/bin/env python3
"""A PulseAudio server of a test's own: one null sink (`vornel_test`, 44100 Hz stereo) and the
native protocol on `DIR/native`, anonymous, so a test points PULSE_SERVER at
`unix:DIR/native` and reads back what reached the sink (`pactl`, `parec -d vornel_test.monitor`).
Lives as a test's child process (child_process.py): "PORT 0" once the server answers.

    /usr/bin/python3 pulse_server.py DIR
"""

import ctypes
import os
import signal
import subprocess
import sys
import time

from child_process import announce_and_wait, exit_on_signals, log


def main():
    folder = sys.argv[1]
    os.makedirs(folder, mode=0o700, exist_ok=True)
    socket_path = os.path.join(folder, "native")
    script = os.path.join(folder, "server.pa")
    with open(script, "w") as f:
        f.write("load-module module-null-sink sink_name=vornel_test rate=44100 channels=2\n"
                f"load-module module-native-protocol-unix auth-anonymous=1 socket={socket_path}\n"
                "set-default-sink vornel_test\n")
    # A home and runtime folder of its own, so no user's configuration or server is touched.
    env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=folder, XDG_CONFIG_HOME=folder)
    env.pop("PULSE_SERVER", None)

    def die_with_parent():
        # Should this script be killed outright, the server must not outlive it.
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG

    # The server's log goes to a file, not to the test's stderr: a pipe held open by a process
    # the test does not wait for would keep ctest waiting for the test's end.
    with open(os.path.join(folder, "pulseaudio.log"), "w") as server_log:
        server = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "-n", "-F", script, "--exit-idle-time=-1", "--disallow-exit",
             "--disallow-module-loading", "--use-pid-file=no", "--log-target=stderr"],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=server_log,
            start_new_session=True, preexec_fn=die_with_parent)

    def stop(*_):
        # Nothing of a test server's is worth a clean shutdown; the test waits only briefly.
        server.kill()
        server.wait()

    exit_on_signals(before_exit=stop)
    deadline = time.monotonic() + 8
    while time.monotonic() < deadline:
        answered = subprocess.run(["pactl", "--server", f"unix:{socket_path}", "info"], env=env,
                                  capture_output=True).returncode == 0
        if answered:
            break
        if server.poll() is not None:
            log(f"pulseaudio exited with {server.returncode}")
            sys.exit(1)
        time.sleep(0.05)
    else:
        log("pulseaudio did not answer")
        stop()
        sys.exit(1)
    log(f"pulseaudio answers on {socket_path}")
    announce_and_wait(0, before_exit=stop)


if __name__ == "__main__":
    main()
