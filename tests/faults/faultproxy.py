#!/usr/bin/env python3
"""A small HTTP/1.1 proxy in front of the storage emulator that misbehaves on request.

    faultproxy.py --listen PORT --upstream PORT --events FILE [--toxiproxy URL] [--rule RULE]...

Every request is forwarded to 127.0.0.1:UPSTREAM unchanged, except those a rule picks.  A rule is a
comma-separated list of key=value items:

    kind=503|500|429|flip|damage|toxic
                                  answer with that status (a 429 with Retry-After: 1; no forwarding),
                                  flip one bit of the request body, flip one bit of the answer's body,
                                  or forward while adding a Toxiproxy toxic first (so that this
                                  request's answer and everything after it pass through the toxic)
    match=put-block|put-blocklist|get-range|any   which requests count
    path=TEXT     only requests whose path contains TEXT (URL-encoded, as sent)
    skip=N        let the first N matching requests through (default 0)
    count=N       fault N matching requests after those (default 1; 0 = all of them)
    every=N       fault only every Nth matching request after the skipped ones (default 1)
    toxic=JSON    the toxic to add (kind=toxic), e.g. {"type":"timeout","attributes":{"timeout":0}}
    proxy=NAME    the Toxiproxy proxy to add it to (kind=toxic)
    for=S         remove the toxic again after S seconds (default: never)

Each fault is written to the events file as one line "<kind> <method> <path>", so that a driver can wait
for a fault to have happened.  Only the Python standard library is used.
"""

import argparse
import http.client
import http.server
import json
import socket
import socketserver
import sys
import threading
import urllib.request

HOP_BY_HOP = {"connection", "keep-alive", "proxy-connection", "transfer-encoding", "te", "trailer", "upgrade",
              "expect"}


class Rule:
    def __init__(self, text):
        items = dict(item.split("=", 1) for item in split_items(text))
        self.kind = items.pop("kind", "")
        self.match = items.pop("match", "any")
        self.path = items.pop("path", "")
        self.skip = int(items.pop("skip", "0"))
        self.count = int(items.pop("count", "1"))
        self.every = max(1, int(items.pop("every", "1")))
        self.toxic = json.loads(items.pop("toxic", "null"))
        self.proxy = items.pop("proxy", "")
        self.lifetime = float(items.pop("for", "0"))
        if items:
            raise ValueError(f"unknown rule items {sorted(items)}")
        if self.kind not in ("503", "500", "429", "flip", "damage", "toxic"):
            raise ValueError(f"unknown rule kind {self.kind}")
        if self.kind == "toxic" and (not self.toxic or not self.proxy):
            raise ValueError("kind=toxic needs toxic= and proxy=")
        self.seen = 0
        self.fired = 0

    def matches(self, method, path):
        query = path.partition("?")[2]
        if self.path and self.path not in path:
            return False
        if self.match == "put-block":
            return method == "PUT" and "comp=block&" in query + "&"
        if self.match == "put-blocklist":
            return method == "PUT" and "comp=blocklist" in query
        if self.match == "get-range":
            return method == "GET" and "comp=" not in query and "restype=" not in query
        return self.match == "any"

    def pick(self, method, path):
        """True when this request is to be faulted (called under the proxy's lock)."""
        if not self.matches(method, path):
            return False
        self.seen += 1
        position = self.seen - self.skip
        if position <= 0 or (position - 1) % self.every != 0:
            return False
        if self.count and self.fired >= self.count:
            return False
        self.fired += 1
        return True


def flip_bit(data):
    """The bytes with one bit of the middle one flipped (none stay none)."""
    middle = len(data) // 2
    return data[:middle] + bytes([data[middle] ^ 0x10]) + data[middle + 1:] if data else data


def split_items(text):
    """Splits on commas outside braces, so that toxic={...,...} stays whole."""
    items, depth, current = [], 0, ""
    for ch in text:
        if ch == "," and depth == 0:
            items.append(current)
            current = ""
            continue
        depth += (ch == "{") - (ch == "}")
        current += ch
    if current:
        items.append(current)
    return items


class Proxy(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, args):
        super().__init__(("127.0.0.1", args.listen), Handler)
        self.upstream = args.upstream
        self.rules = [Rule(text) for text in args.rule]
        self.toxiproxy = args.toxiproxy
        self.events = open(args.events, "a", buffering=1)
        self.lock = threading.Lock()

    def choose(self, method, path):
        with self.lock:
            for rule in self.rules:
                if rule.pick(method, path):
                    self.events.write(f"{rule.kind} {method} {path}\n")
                    return rule
        return None

    def add_toxic(self, rule):
        toxic = dict(rule.toxic)
        toxic.setdefault("name", f"fault{rule.fired}")
        base = f"{self.toxiproxy}/proxies/{rule.proxy}/toxics"
        request = urllib.request.Request(base, data=json.dumps(toxic).encode(), method="POST",
                                         headers={"Content-Type": "application/json"})
        urllib.request.urlopen(request, timeout=5).read()
        if rule.lifetime > 0:
            def remove():
                gone = urllib.request.Request(f"{base}/{toxic['name']}", method="DELETE")
                try:
                    urllib.request.urlopen(gone, timeout=5).read()
                    self.events.write(f"removed {toxic['name']}\n")
                except OSError:
                    pass
            threading.Timer(rule.lifetime, remove).start()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # quiet: the events file says what matters
        pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def handle_any(self):
        body = self.read_body()
        rule = self.server.choose(self.command, self.path)
        if rule and rule.kind in ("503", "500", "429"):
            self.answer_fault(int(rule.kind))
            return
        if rule and rule.kind == "flip":
            body = flip_bit(body)
        if rule and rule.kind == "toxic":
            self.server.add_toxic(rule)
        status = self.forward(body, damage=rule is not None and rule.kind == "damage")
        if rule:
            self.server.events.write(f"answered {status} {self.command} {self.path}\n")

    def answer_fault(self, status):
        text = {503: "ServerBusy", 500: "InternalError", 429: "TooManyRequests"}[status]
        payload = (f'<?xml version="1.0" encoding="utf-8"?><Error><Code>{text}</Code>'
                   f"<Message>injected fault</Message></Error>").encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/xml")
        self.send_header("x-ms-error-code", text)
        if status == 429:
            self.send_header("Retry-After", "1")
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(payload)

    def forward(self, body, damage=False):
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_BY_HOP}
        if body or self.command in ("PUT", "POST"):
            headers["Content-Length"] = str(len(body))
        upstream = http.client.HTTPConnection("127.0.0.1", self.server.upstream, timeout=600)
        try:
            upstream.request(self.command, self.path, body=body, headers=headers)
            response = upstream.getresponse()
            payload = response.read()
        except (OSError, http.client.HTTPException):
            # The upstream link broke (a toxic): break the client's the same way.
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return "broken"
        finally:
            upstream.close()
        if damage and 200 <= response.status < 300:
            payload = flip_bit(payload)
        self.send_response_only(response.status, response.reason)
        for key, value in response.getheaders():
            if key.lower() not in HOP_BY_HOP and key.lower() != "content-length":
                self.send_header(key, value)
        length = response.getheader("Content-Length") if self.command == "HEAD" else str(len(payload))
        if length is not None:
            self.send_header("Content-Length", length)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(payload)
        return response.status

    do_GET = do_PUT = do_POST = do_DELETE = do_HEAD = do_OPTIONS = do_PATCH = handle_any


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--upstream", type=int, required=True)
    parser.add_argument("--events", required=True)
    parser.add_argument("--toxiproxy", default="")
    parser.add_argument("--rule", action="append", default=[])
    args = parser.parse_args()
    try:
        server = Proxy(args)
    except ValueError as error:
        print(f"faultproxy: {error}", file=sys.stderr)
        return 2
    print(f"faultproxy: listening on {args.listen}", flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
