#!/usr/bin/env python3
"""The update server of the download benchmarks, on the loopback.

  GET /<bytes>/check          302 to /<bytes>/installer.exe (the offer)
  GET /<bytes>/installer.exe  200 with Content-Length: the installer's bytes,
                              padded with zeros to <bytes> (a program runs
                              with bytes appended to it), on every request

for each <bytes> given with --size. The zeros are sent from one small block,
so that a large body costs the host no memory beside the programs measured.
Writes "PORT=<port>" to --ready-file once it listens; ends on SIGTERM.
"""

import argparse
import os
import signal
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ZEROS = memoryview(bytes(1024 * 1024))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--installer", required=True)
    parser.add_argument("--size", type=int, action="append", required=True)
    parser.add_argument("--ready-file", required=True)
    args = parser.parse_args()

    with open(args.installer, "rb") as f:
        program = f.read()
    sizes = {str(size): max(size, len(program)) for size in args.size}

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, format, *args):
            pass

        def do_GET(self):
            _, size, name = (self.path.split("/") + ["", ""])[:3]
            length = None
            if size in sizes and name == "check":
                self.send_response(302)
                self.send_header("Location", f"/{size}/installer.exe")
                self.send_header("Content-Length", "0")
            elif size in sizes and name == "installer.exe":
                length = sizes[size]
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(length))
            else:
                self.send_response(404)
                self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            if length is not None:
                self.wfile.write(program)
                left = length - len(program)
                while left > 0:
                    piece = min(left, len(ZEROS))
                    self.wfile.write(ZEROS[:piece])
                    left -= piece

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
