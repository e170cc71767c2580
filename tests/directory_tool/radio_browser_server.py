#!/usr/bin/env python3
"""A stand-in Radio Browser server for the directory tool's tests.

Usage: radio_browser_server.py FILE   Prints "PORT <n>", serves until stdin closes.
  /up/json/stations    FILE, but only to a client that names Vornel in its User-Agent and asks
                       for working stations (hidebroken=true); 400 otherwise
  /down/json/stations  503, as a server that is out of service
"""
import http.server
import sys
import threading
import urllib.parse

BODY = open(sys.argv[1], "rb").read()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, code, body):
        self.send_response(code)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/down/json/stations":
            self.reply(503, b"[]")
        elif url.path != "/up/json/stations":
            self.reply(404, b"[]")
        elif "Vornel" not in self.headers.get("User-Agent", "") or query.get("hidebroken") != ["true"]:
            self.reply(400, b"[]")
        else:
            self.reply(200, BODY)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(f"PORT {server.server_address[1]}", flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
