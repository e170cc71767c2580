#!/usr/bin/env python3
"""A small HTTP server for the directory download tests.

Usage: http_server.py ROOT   Prints "PORT <n>", serves until stdin closes.
  /file/NAME          the bytes of ROOT/NAME (Content-Type text/plain; charset=windows-1251)
  /delay/SECONDS/NAME the same, after SECONDS
  /status/CODE        that status with a small HTML body
  /empty              200 with no body
  /hits               how many requests came before this one
"""
import http.server
import os
import sys
import threading
import time

ROOT = sys.argv[1]
hits = 0
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, code, body, content_type="text/plain; charset=windows-1251"):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        global hits
        with lock:
            before = hits
            hits += 1
        parts = self.path.strip("/").split("/")
        try:
            if parts[0] == "hits":
                self.reply(200, str(before).encode())
            elif parts[0] == "file":
                self.reply(200, open(os.path.join(ROOT, parts[1]), "rb").read())
            elif parts[0] == "delay":
                time.sleep(float(parts[1]))
                self.reply(200, open(os.path.join(ROOT, parts[2]), "rb").read())
            elif parts[0] == "status":
                self.reply(int(parts[1]), b"<html><body>error</body></html>", "text/html")
            elif parts[0] == "empty":
                self.reply(200, b"")
            else:
                self.reply(404, b"not found")
        except (BrokenPipeError, ConnectionResetError):
            pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(f"PORT {server.server_address[1]}", flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
