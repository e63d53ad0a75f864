#!/usr/bin/env python3
"""A small OAuth 2 token introspection endpoint (RFC 7662) on 127.0.0.1.

Arguments are TOKEN=USER pairs: those tokens are active for that user, every
other token is inactive (as an expired one is). The chosen port is printed
on the first line of standard output; the server runs until killed.
"""
import json
import sys
import urllib.parse
from http.server import BaseHTTPRequestHandler, HTTPServer

ACTIVE = dict(pair.split("=", 1) for pair in sys.argv[1:])


class Introspection(BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        form = urllib.parse.parse_qs(self.rfile.read(length).decode("ascii", "replace"))
        token = (form.get("token") or [""])[0]
        if not token:
            # Some servers send the token as a bearer header instead.
            token = self.headers.get("Authorization", "").removeprefix("Bearer ").strip()
        user = ACTIVE.get(token)
        body = {"active": True, "username": user, "scope": "mail"} if user else {"active": False}
        data = json.dumps(body).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_GET = do_POST

    def log_message(self, fmt, *args):
        sys.stderr.write("introspection: " + fmt % args + "\n")


server = HTTPServer(("127.0.0.1", 0), Introspection)
print(server.server_address[1], flush=True)
server.serve_forever()
