#!/usr/bin/env python3
"""Loopback demo server for the packaged games.

Three HTTP servers on 127.0.0.1:
  28710  game pages (login, play, home, service, top-up, site, farewell, tray
         popup), for kzr at the root and for other games under /<id>/
  28711  statistics: every GET to /wan is recorded (one JSON line per request
         in --stat-log, and a line on stdout)
  28712  file distribution: /wan/wan/7z.dll serves the file given with
         --sevenzip; without it (or when the file is missing) the answer is 404

Every request of the file server is recorded in --file-log the same way, so a
test can tell whether a download was tried. With --ready-file the server
writes that file once all three ports listen. Stops on SIGTERM or SIGINT.
"""
import argparse
import html
import json
import os
import signal
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl, urlsplit

GAMES = {"": "Velmora 维尔莫拉", "abc": "Astrelle 星辉"}

PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{title}</title>
<style>body{{margin:0;background:#0b0f18;color:#e6e9f0;font-family:sans-serif}}
main{{padding:40px;text-align:center}}a{{color:#c9a45c}}</style></head>
<body><main><h1>{title}</h1><p>{body}</p></main></body></html>
"""

BODIES = {
    "login.html": '<a href="{base}play.html?opengame=1">开始游戏</a>',
    "play.html": "游戏进行中",
    "index.html": "首页",
    "kefu.html": "客服中心",
    "charge.html": "充值中心",
    "site.html": "官方网站",
    "farewell.html": "感谢您的陪伴，期待再次相见。",
    "pop.html": "新服开启",
    "dispense": "感谢您的陪伴，期待再次相见。",
}


class Recorder:
    """Appends one JSON object per request to a file (line-buffered) and
    echoes a short line to stdout; safe to call from handler threads."""

    def __init__(self, path, label):
        self.lock = threading.Lock()
        self.label = label
        self.file = open(path, "a", encoding="utf-8", buffering=1) if path else None

    def record(self, entry):
        line = json.dumps(entry, ensure_ascii=False)
        with self.lock:
            if self.file:
                self.file.write(line + "\n")
            print("[%s] %s" % (self.label, line), flush=True)


class QuietHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # the recorders log what matters
        pass

    def reply(self, status, body, content_type="text/plain; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()


def page_handler():
    class Handler(QuietHandler):
        def do_GET(self):
            parts = urlsplit(self.path)
            segments = [s for s in parts.path.split("/") if s]
            game = segments[0] if len(segments) > 1 and segments[0] in GAMES else ""
            name = segments[-1] if segments else "login.html"
            if name not in BODIES:
                self.reply(404, b"not found")
                return
            base = "/%s/" % game if game else "/"
            body = BODIES[name].format(base=html.escape(base))
            text = PAGE.format(title=html.escape(GAMES[game]), body=body)
            self.reply(200, text.encode("utf-8"), "text/html; charset=utf-8")

    return Handler


def stat_handler(recorder):
    class Handler(QuietHandler):
        def do_GET(self):
            parts = urlsplit(self.path)
            query = dict(parse_qsl(parts.query, keep_blank_values=True))
            recorder.record({"time": time.time(), "path": parts.path, "raw": parts.query, "query": query,
                             "action": query.get("action", "")})
            self.reply(200 if parts.path == "/wan" else 404, b"ok")

    return Handler


def file_handler(recorder, sevenzip):
    class Handler(QuietHandler):
        def do_GET(self):
            path = urlsplit(self.path).path
            data = None
            if path == "/wan/wan/7z.dll" and sevenzip and os.path.isfile(sevenzip):
                with open(sevenzip, "rb") as f:
                    data = f.read()
            recorder.record({"time": time.time(), "path": path,
                             "status": 200 if data is not None else 404,
                             "bytes": len(data) if data is not None else 0})
            if data is None:
                self.reply(404, b"not found")
            else:
                self.reply(200, data, "application/octet-stream")

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--page-port", type=int, default=28710)
    parser.add_argument("--stat-port", type=int, default=28711)
    parser.add_argument("--file-port", type=int, default=28712)
    parser.add_argument("--sevenzip", help="7z.dll to serve as /wan/wan/7z.dll")
    parser.add_argument("--stat-log", help="JSON-lines file of the statistics requests")
    parser.add_argument("--file-log", help="JSON-lines file of the file-server requests")
    parser.add_argument("--ready-file", help="written once every port listens")
    args = parser.parse_args()

    stats = Recorder(args.stat_log, "stat")
    files = Recorder(args.file_log, "file")
    ThreadingHTTPServer.allow_reuse_address = True
    servers = [
        ThreadingHTTPServer((args.host, args.page_port), page_handler()),
        ThreadingHTTPServer((args.host, args.stat_port), stat_handler(stats)),
        ThreadingHTTPServer((args.host, args.file_port), file_handler(files, args.sevenzip)),
    ]
    for server in servers:
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    if args.ready_file:
        with open(args.ready_file, "w") as f:
            f.write(str(os.getpid()))
    print("demo server: pages :%d, statistics :%d, files :%d (7z.dll %s)" % (
        args.page_port, args.stat_port, args.file_port, args.sevenzip or "not served"), flush=True)
    stop.wait()
    for server in servers:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
