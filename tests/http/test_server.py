#!/usr/bin/env python3
"""Scriptable HTTP and HTTPS servers on the loopback for the Windows tests.

Started by with-test-servers, which passes the addresses on to the test. All
listeners share one table of scripted answers and one request log:

  http           127.0.0.1, plain HTTP; also serves the control paths below
  https_pinned   127.0.0.1, the pinned (demo) server certificate
  https_other    127.0.0.1, a certificate made at start, not the pinned one
  https_chain    127.0.0.1, a leaf issued by the pinned certificate's key,
                 followed by the pinned certificate as its issuer
  https_beside   127.0.0.1, the other leaf followed by the pinned certificate,
                 which did not issue it (as anyone could send it)
  https_alt      a random 127.x.y.z address that no certificate names, port
                 443 when it can be bound, with the pinned certificate
  silent         127.0.0.1, accepts every connection and never sends a byte
                 (not even a TLS handshake); nothing is logged

Control (on any listener; never logged):
  POST /__control/script   JSON object {"<path>": ANSWER, ...}, merged into
                           the table. A path with a query matches exactly;
                           otherwise the path without its query is used.
  POST /__control/reset    forgets every script and the log
  POST /__control/open-late  starts listening, plain HTTP, on the late port,
                           where nothing listened before: a server that
                           comes back (listener "late")
  GET  /__control/sent     how many bytes of `zeros` bodies went out since the
                           last reset, as a decimal
  GET  /__control/silent-connections  how many connections the silent
                           listener has taken
  GET  /__control/log      the log, one block per request, in arrival order:
                             REQUEST <listener> <method> <target>
                             H <name>: <value>      (as received, in order)
                             END

ANSWER (every field optional):
  status          number, default 200
  reason          reason phrase
  headers         [[name, value], ...], sent in that order
  location        shorthand for a Location header
  body            text; code points up to 255 stand for single bytes
  body_size       a body of that many bytes, byte i being i % 251
  content_length  null: no Content-Length; a string or number: sent as is;
                  absent: the body's length
  chunked         true: Transfer-Encoding chunked, no Content-Length
  send_bytes      close the connection after this many body bytes
  reset_bytes     after this many body bytes, reset the connection (an RST,
                  not the orderly end of send_bytes)
  stall           seconds to wait before answering (the server's stop ends it)
  pause_bytes     after this many body bytes, wait pause_seconds (default 1)
                  before the rest: a download caught in the middle
  trickle_bytes   the body this many bytes at a time, trickle_seconds
                  (default 1) apart: a server that is slow on purpose
  basic_auth      "user:password": a 401 Basic challenge instead, until a
                  request carries exactly these credentials
  zeros           a body of that many zero bytes (its Content-Length unless
                  content_length says otherwise), streamed 16 KiB every
                  10 ms through a small send buffer and counted as it
                  goes out: what a client refused or stopped can be seen

An unscripted path answers 404 with the body "not scripted".
"""

import argparse
import base64
import json
import os
import random
import signal
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONTROL = "/__control/"


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.scripts = {}
        self.log = []
        self.zeros_sent = 0
        self.stopping = threading.Event()

    def answer_for(self, target):
        with self.lock:
            if target in self.scripts:
                return self.scripts[target]
            return self.scripts.get(target.split("?", 1)[0])


STATE = State()


def body_of(answer):
    if "body_size" in answer:
        return bytes(i % 251 for i in range(int(answer["body_size"])))
    return answer.get("body", "").encode("latin-1")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # the log endpoint is the record
        pass

    def do_GET(self):
        self.handle_any()

    def do_POST(self):
        self.handle_any()

    def do_HEAD(self):
        self.handle_any()

    def handle_any(self):
        if self.path.startswith(CONTROL):
            self.control(self.path[len(CONTROL):])
            return
        with STATE.lock:
            STATE.log.append((self.server.name, self.command, self.path, list(self.headers.items())))
        answer = STATE.answer_for(self.path)
        if answer is None:
            answer = {"status": 404, "body": "not scripted"}
        elif "basic_auth" in answer:
            expected = "Basic " + base64.b64encode(answer["basic_auth"].encode("latin-1")).decode("ascii")
            if self.headers.get("Authorization") != expected:
                answer = {"status": 401, "body": "who are you",
                          "headers": [["WWW-Authenticate", 'Basic realm="updates"']]}
        self.answer(answer)

    def control(self, what):
        length = int(self.headers.get("Content-Length") or 0)
        data = self.rfile.read(length) if length else b""
        if what == "script" and self.command == "POST":
            table = json.loads(data.decode("utf-8"))
            with STATE.lock:
                STATE.scripts.update(table)
            self.plain(200, b"ok")
        elif what == "reset" and self.command == "POST":
            with STATE.lock:
                STATE.scripts.clear()
                STATE.log.clear()
                STATE.zeros_sent = 0
            self.plain(200, b"ok")
        elif what == "sent" and self.command == "GET":
            with STATE.lock:
                sent = STATE.zeros_sent
            self.plain(200, str(sent).encode("ascii"))
        elif what == "open-late" and self.command == "POST":
            LATE.open()
            self.plain(200, b"ok")
        elif what == "silent-connections" and self.command == "GET":
            self.plain(200, str(len(SILENT.held)).encode("ascii"))
        elif what == "log" and self.command == "GET":
            lines = []
            with STATE.lock:
                for listener, method, target, headers in STATE.log:
                    lines.append(f"REQUEST {listener} {method} {target}")
                    lines.extend(f"H {name}: {value}" for name, value in headers)
                    lines.append("END")
            self.plain(200, ("\n".join(lines) + "\n").encode("latin-1", "replace"))
        else:
            self.plain(400, b"unknown control request")

    def plain(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def answer(self, answer):
        if answer.get("stall"):
            STATE.stopping.wait(float(answer["stall"]))
            if STATE.stopping.is_set():
                self.close_connection = True
                return
        if "zeros" in answer:
            self.answer_zeros(answer)
            return
        body = body_of(answer)
        self.send_response(int(answer.get("status", 200)), answer.get("reason"))
        for name, value in answer.get("headers", []):
            self.send_header(name, value)
        if "location" in answer:
            self.send_header("Location", answer["location"])
        chunked = bool(answer.get("chunked"))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif "content_length" not in answer:
            self.send_header("Content-Length", str(len(body)))
        elif answer["content_length"] is not None:
            self.send_header("Content-Length", str(answer["content_length"]))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if self.command == "HEAD":
            return
        if "reset_bytes" in answer:
            self.wfile.write(body[: int(answer["reset_bytes"])])
            self.wfile.flush()
            # A zero linger time makes close() send RST instead of FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            return
        if "send_bytes" in answer:
            self.wfile.write(body[: int(answer["send_bytes"])])
            self.wfile.flush()
            return
        if "trickle_bytes" in answer:
            step = max(1, int(answer["trickle_bytes"]))
            for start in range(0, len(body), step):
                self.wfile.write(body[start:start + step])
                self.wfile.flush()
                if STATE.stopping.wait(float(answer.get("trickle_seconds", 1))):
                    return
            return
        if "pause_bytes" in answer:
            head = int(answer["pause_bytes"])
            self.wfile.write(body[:head])
            self.wfile.flush()
            STATE.stopping.wait(float(answer.get("pause_seconds", 1)))
            if STATE.stopping.is_set():
                return
            body = body[head:]
        if chunked:
            for start in range(0, len(body), 1000):
                piece = body[start:start + 1000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.wfile.write(body)


    def answer_zeros(self, answer):
        # A small send buffer, so that what the client never reads cannot
        # pile up here unseen: the count is of bytes the kernel took. The
        # pace lets a client that drains what it has received when it closes
        # the request (as Wine does) find nothing more soon; one that reads
        # the body still takes more than a megabyte a second.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 16 * 1024)
        total = int(answer["zeros"])
        self.send_response(int(answer.get("status", 200)), answer.get("reason"))
        self.send_header("Content-Length", str(answer.get("content_length", total)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        piece = bytes(16 * 1024)
        left = total
        try:
            while left > 0 and not STATE.stopping.is_set():
                sent = self.connection.send(piece[: min(left, len(piece))])
                left -= sent
                with STATE.lock:
                    STATE.zeros_sent += sent
                time.sleep(0.01)
        except OSError:
            pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False  # a stalled answer must not hold up the stop
    allow_reuse_address = True

    def __init__(self, name, address, context=None):
        self.name = name
        self.context = context
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        # The handshake happens on the request's own thread, so that a client
        # that stalls or fails in it holds up no one else.
        request.settimeout(60)
        if self.context is not None:
            try:
                request = self.context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are part of the tests


def openssl(*args):
    subprocess.run(["openssl", *args], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_other_certificate(folder):
    """A self-signed certificate that has nothing to do with the pinned one."""
    key = os.path.join(folder, "other.key")
    pem = os.path.join(folder, "other.pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
            "-subj", "/O=Tavrin Test/CN=localhost",
            "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
            "-keyout", key, "-out", pem)
    return pem, key


def make_issued_certificate(folder, issuer_pem, issuer_key):
    """A leaf signed with the pinned certificate's key, so that the platform's
    chain puts the pinned certificate after it."""
    key = os.path.join(folder, "issued.key")
    csr = os.path.join(folder, "issued.csr")
    pem = os.path.join(folder, "issued.pem")
    extensions = os.path.join(folder, "issued.ext")
    with open(extensions, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/O=Tavrin Test/CN=localhost",
            "-keyout", key, "-out", csr)
    openssl("x509", "-req", "-in", csr, "-CA", issuer_pem, "-CAkey", issuer_key,
            "-set_serial", "0x" + os.urandom(8).hex(), "-days", "3650", "-sha256",
            "-extfile", extensions, "-out", pem)
    return pem, key


def concatenate(target, *parts):
    with open(target, "w") as out:
        for part in parts:
            with open(part) as f:
                out.write(f.read())
    return target


def tls_context(certificate_file, key_file):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate_file, key_file)
    return context


def bind_alt(context):
    """The pinned certificate on an address it does not name; port 443 when
    this user may bind it, on a random loopback address so that parallel
    runs do not meet."""
    for _ in range(20):
        host = f"127.{random.randint(1, 254)}.{random.randint(0, 255)}.{random.randint(1, 254)}"
        try:
            return Server("https_alt", (host, 443), context)
        except PermissionError:
            break
        except OSError:
            continue
    host = f"127.{random.randint(1, 254)}.{random.randint(0, 255)}.{random.randint(1, 254)}"
    return Server("https_alt", (host, 0), context)


def refused_port():
    """A port on 127.0.0.1 that nothing listens on (it was free a moment ago)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class LateListener:
    """Plain HTTP on a port chosen at start, listening only once asked to."""

    def __init__(self):
        self.port = refused_port()
        self.server = None
        self.lock = threading.Lock()

    def open(self):
        with self.lock:
            if self.server is None:
                self.server = Server("late", ("127.0.0.1", self.port))
                threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        with self.lock:
            if self.server is not None:
                self.server.shutdown()
                self.server.server_close()


LATE = LateListener()
SILENT = None


class SilentListener:
    """Accepts connections and holds them open without a word."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.port = self.socket.getsockname()[1]
        self.held = []
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            self.held.append(connection)

    def close(self):
        self.socket.close()
        for connection in self.held:
            connection.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--work-dir", required=True, help="folder for the made certificate")
    parser.add_argument("--ready-file", required=True, help="written with NAME=value lines once listening")
    parser.add_argument("--pinned-cert", required=True, help="PEM of the pinned server certificate")
    parser.add_argument("--pinned-key", required=True, help="its private key")
    parser.add_argument("--script", help="JSON answers to start with")
    args = parser.parse_args()

    other_pem, other_key = make_other_certificate(args.work_dir)
    issued_pem, issued_key = make_issued_certificate(args.work_dir, args.pinned_cert, args.pinned_key)
    chain_pem = concatenate(os.path.join(args.work_dir, "chain.pem"), issued_pem, args.pinned_cert)
    beside_pem = concatenate(os.path.join(args.work_dir, "beside.pem"), other_pem, args.pinned_cert)

    if args.script:
        with open(args.script) as f:
            STATE.scripts.update(json.load(f))

    pinned = tls_context(args.pinned_cert, args.pinned_key)
    servers = [
        Server("http", ("127.0.0.1", 0)),
        Server("https_pinned", ("127.0.0.1", 0), pinned),
        Server("https_other", ("127.0.0.1", 0), tls_context(other_pem, other_key)),
        Server("https_chain", ("127.0.0.1", 0), tls_context(chain_pem, issued_key)),
        Server("https_beside", ("127.0.0.1", 0), tls_context(beside_pem, other_key)),
        bind_alt(pinned),
    ]
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    global SILENT
    SILENT = SilentListener()

    ports = {s.name: s.server_address for s in servers}
    values = {
        "TAVRIN_TEST_HTTP_PORT": ports["http"][1],
        "TAVRIN_TEST_HTTPS_PINNED_PORT": ports["https_pinned"][1],
        "TAVRIN_TEST_HTTPS_OTHER_PORT": ports["https_other"][1],
        "TAVRIN_TEST_HTTPS_CHAIN_PORT": ports["https_chain"][1],
        "TAVRIN_TEST_HTTPS_BESIDE_PORT": ports["https_beside"][1],
        "TAVRIN_TEST_HTTPS_ALT_HOST": ports["https_alt"][0],
        "TAVRIN_TEST_HTTPS_ALT_PORT": ports["https_alt"][1],
        "TAVRIN_TEST_REFUSED_PORT": refused_port(),
        "TAVRIN_TEST_LATE_PORT": LATE.port,
        "TAVRIN_TEST_SILENT_PORT": SILENT.port,
    }
    temporary = args.ready_file + ".part"
    with open(temporary, "w") as f:
        f.writelines(f"{name}={value}\n" for name, value in values.items())
    os.replace(temporary, args.ready_file)

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    done.wait()
    STATE.stopping.set()
    for server in servers:
        server.shutdown()
        server.server_close()
    LATE.close()
    SILENT.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
