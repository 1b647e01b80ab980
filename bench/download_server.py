#!/usr/bin/env python3
"""The update server of the download benchmark, on the loopback.

  GET /check          302 to /installer.exe (the offer)
  GET /installer.exe  200 with Content-Length: the installer's bytes, padded
                      with zeros to --size bytes (a program runs with bytes
                      appended to it), from memory, on every request

Writes "PORT=<port>" to --ready-file once it listens; ends on SIGTERM.
"""

import argparse
import os
import signal
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--installer", required=True)
    parser.add_argument("--size", type=int, required=True)
    parser.add_argument("--ready-file", required=True)
    args = parser.parse_args()

    with open(args.installer, "rb") as f:
        program = f.read()
    body = memoryview(program + bytes(max(0, args.size - len(program))))

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, format, *args):
            pass

        def do_GET(self):
            if self.path == "/check":
                self.send_response(302)
                self.send_header("Location", "/installer.exe")
                self.send_header("Content-Length", "0")
            elif self.path == "/installer.exe":
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
            else:
                self.send_response(404)
                self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            if self.path == "/installer.exe":
                self.wfile.write(body)

    class Server(ThreadingHTTPServer):
        daemon_threads = True

        def handle_error(self, request, client_address):
            pass  # a client that stops reading is its own affair

    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(args.ready_file + ".part", "w") as f:
        f.write(f"PORT={server.server_address[1]}\n")
    os.replace(args.ready_file + ".part", args.ready_file)

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    done.wait()
    server.shutdown()


if __name__ == "__main__":
    main()
