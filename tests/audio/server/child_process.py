"""How the test servers live as a test's child process (tests/support/server_process.h): one
line "PORT <n>" on stdout once listening, the log on stderr, and an exit when the test closes
their stdin (so a crashed test never leaves a server behind) or sends SIGTERM/SIGINT."""

import os
import signal
import sys
import threading
import time

_T0 = time.monotonic()
_log_lock = threading.Lock()


def log(message):
    """One line on stderr, stamped with the seconds since the server started."""
    with _log_lock:
        try:
            sys.stderr.write(f"[{time.monotonic() - _T0:9.3f}] {message}\n")
            sys.stderr.flush()
        except (OSError, ValueError):
            pass


def exit_on_signals(before_exit=None):
    """`before_exit` lets go of what the server started (a child process of its own)."""
    def stop(signum, frame):
        log(f"signal {signum}, exiting")
        if before_exit:
            before_exit()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)


def announce_and_wait(port, before_exit=None):
    """Tells the test the port, then serves (on other threads) until the test lets go of stdin."""
    sys.stdout.write(f"PORT {port}\n")
    sys.stdout.flush()
    while True:
        try:
            data = os.read(0, 4096)
        except InterruptedError:
            continue
        except OSError:
            break
        if not data:
            break
    log("stdin closed, exiting")
    if before_exit:
        before_exit()
    os._exit(0)
