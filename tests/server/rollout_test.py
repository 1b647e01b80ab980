#!/usr/bin/env python3
"""A staged rollout, a halt and a rollback on the reference server (nginx),
asked by 2,000 machines, each from its own address of the loopback network,
and the fleet report of what nginx logged.

  tests/server/rollout_test.py

Needs nginx, gnuplot and Python; starts nginx on a free port of 127.0.0.1
and ends it by its pid. Prints what failed and exits 1 when anything did.
"""

import concurrent.futures
import math
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "server")
MACHINES = 2000
OLD, NEW = "2.0.0", "2.1.0"

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what, flush=True)
    return condition


def machine(i, network=1):
    return "127.%d.%d.%d" % (network, i // 250, i % 250 + 1)


def ask(port, address, header=None, path="/check", method="GET", extra=""):
    """One request from ADDRESS on a connection of its own: (status, Location
    path or None, body length)."""
    with socket.socket() as connection:
        connection.bind((address, 0))
        connection.settimeout(10)
        connection.connect(("127.0.0.1", port))
        lines = ["%s %s HTTP/1.1" % (method, path), "Host: 127.0.0.1", "User-Agent: Updater",
                 "Connection: close"]
        if header is not None:
            lines.append("X-Last-Installed-Update: " + header)
        connection.sendall(("\r\n".join(lines) + "\r\n" + extra + "\r\n").encode())
        answer = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                break
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    head = head.decode("latin-1").split("\r\n")
    location = next((h.split(":", 1)[1].strip() for h in head if h.lower().startswith("location:")), None)
    return int(head[0].split()[1]), location, len(body)


def installer(version):
    return "/installers/%s/middleware-setup.exe" % version


class Server:
    """nginx from server/run on a free port, its checks tallied for the report."""

    def __init__(self, root, work):
        self.root, self.work, self.conf = root, work, os.path.join(work, "nginx.conf")
        self.checks = []  # (address, header, status)
        self.installers = 0
        for _ in range(5):
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                self.port = probe.getsockname()[1]
            # server/run without a command becomes nginx itself.
            self.nginx = subprocess.Popen([os.path.join(SERVER, "run"), "--http", "127.0.0.1:%d" % self.port,
                                           root, work], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            pid_file = os.path.join(work, "nginx.pid")
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and self.nginx.poll() is None:
                if os.path.exists(pid_file) and open(pid_file).read().strip() == str(self.nginx.pid):
                    if self.workers():
                        return
                time.sleep(0.05)
            if self.nginx.poll() is None:
                self.stop()
        sys.exit("nginx did not start: %s" % self.nginx.stderr.read().decode())

    def workers(self):
        found = set()
        for entry in os.listdir("/proc"):
            try:
                with open("/proc/%s/stat" % entry) as stat:
                    if int(stat.read().rsplit(")", 1)[1].split()[1]) == self.nginx.pid:
                        found.add(int(entry))
            except (OSError, ValueError, IndexError):
                pass
        return found

    def publish(self, *arguments):
        before = self.workers()
        subprocess.run([os.path.join(SERVER, "publish"), "--nginx-conf", self.conf] + list(arguments),
                       check=True, stdout=subprocess.DEVNULL)
        # The new configuration answers alone once every worker of the old
        # one has ended.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            now = self.workers()
            if now and not now & before:
                return
            time.sleep(0.02)
        sys.exit("nginx did not reload for publish %s" % " ".join(arguments))

    def fleet(self, machines):
        """Asks /check for every (address, header); returns their answers."""
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(lambda m: ask(self.port, *m), machines))
        self.checks += [(address, header, status) for (address, header), (status, _, _) in zip(machines, answers)]
        return answers

    def stop(self):
        self.nginx.terminate()
        self.nginx.wait()


def within(count, total, share, what):
    sigma = math.sqrt(total * share * (1 - share))
    return expect(abs(count - total * share) <= 5 * sigma,
                  "%s: %d of %d inside, expected %.0f +- %.0f" % (what, count, total, total * share, 5 * sigma))


def report(arguments):
    done = subprocess.run([os.path.join(SERVER, "report")] + arguments, capture_output=True, text=True)
    expect(done.returncode == 0, "server/report %s failed: %s" % (" ".join(arguments), done.stderr))
    rows = {}
    for line in done.stdout.splitlines()[1:]:
        found = re.match(r"(.+?)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(.*)$", line)
        if found:
            shares = dict(re.findall(r"(\S+) ([\d.]+)%", found.group(6)))
            rows[found.group(1)] = [int(found.group(n)) for n in range(2, 6)] + [shares]
    return rows


def main():
    started = time.time()
    top = tempfile.mkdtemp()
    os.chmod(top, 0o755)  # nginx started as root reads the files as nobody
    root, work = os.path.join(top, "root"), os.path.join(top, "nginx")
    os.makedirs(work)
    files = {}
    for version, size in ((OLD, 40000), (NEW, 50000)):
        files[version] = os.path.join(top, version + ".exe")
        with open(files[version], "wb") as out:
            out.write(os.urandom(size))
    subprocess.run([os.path.join(SERVER, "publish"), root, OLD, files[OLD]], check=True, stdout=subprocess.DEVNULL)
    server = Server(root, work)
    try:
        # Even machines have no lastupdate, odd ones run the old version.
        fleet = [(machine(i), OLD if i % 2 else None) for i in range(MACHINES)]
        outside = {None: (302, installer(OLD)), OLD: (204, None)}

        server.publish("--rollout", "10", root, NEW, files[NEW])
        inside10 = set()
        for i, (status, location, _) in enumerate(server.fleet(fleet)):
            if (status, location) == (302, installer(NEW)):
                inside10.add(i)
            else:
                expect((status, location) == outside[fleet[i][1]],
                       "10 %%: machine %d (%s) got %s %s" % (i, fleet[i][1], status, location))
        within(len(inside10), MACHINES, 0.1, "10 %")

        # Raised without the installer; 200 more machines already run the new
        # version, about half of them outside the share.
        server.publish("--rollout", "50", root, NEW)
        installed = [(machine(i, 2), NEW) for i in range(200)]
        answers = server.fleet(fleet + installed)
        inside50 = {i for i, (status, location, _) in enumerate(answers[:MACHINES])
                    if (status, location) == (302, installer(NEW))}
        within(len(inside50), MACHINES, 0.5, "50 %")
        expect(inside10 <= inside50, "raised to 50 %%: %d machines inside at 10 %% are not" % len(inside10 - inside50))
        for i in set(range(MACHINES)) - inside50:
            expect(answers[i][:2] == outside[fleet[i][1]], "50 %%: machine %d got %s" % (i, answers[i][:2]))
        expect(all(status == 204 for status, _, _ in answers[MACHINES:]),
               "50 %%: machines that run %s were offered %s" % (NEW, {a[:2] for a in answers[MACHINES:]}))

        server.publish("--halt", root)
        halted = server.fleet(fleet[:1000] + installed[:100])
        expect(all(status == 204 for status, _, _ in halted),
               "halted: offered %s" % {a[:2] for a in halted if a[0] != 204})

        # The rollback: the old version again, with its own bytes.
        server.publish(root, OLD, files[OLD])
        back = [(machine(i), NEW) for i in range(300)] + [(machine(i), OLD) for i in range(300, 500)]
        answers = server.fleet(back)
        expect(all(a[:2] == (302, installer(OLD)) for a in answers[:300]),
               "rolled back: machines on %s got %s" % (NEW, {a[:2] for a in answers[:300]}))
        expect(all(a[0] == 204 for a in answers[300:]), "rolled back: machines on %s were offered it" % OLD)

        # Served whole five times; a HEAD and a range are not whole.
        size = os.path.getsize(files[OLD])
        for i in range(5):
            expect(ask(server.port, machine(i), path=installer(OLD)) == (200, None, size),
                   "the installer is not served whole")
        server.installers = 5
        ask(server.port, machine(5), path=installer(OLD), method="HEAD")
        ask(server.port, machine(6), path=installer(OLD), extra="Range: bytes=0-99\r\n")
    finally:
        server.stop()

    # What the test asked, against what the report read from nginx's log.
    log = os.path.join(work, "access.log")
    checks = server.checks
    versions = {}
    for _, header, _ in checks:
        versions[header or "none"] = versions.get(header or "none", 0) + 1
    expected = [len(checks), len({address for address, _, _ in checks}),
                sum(status == 302 for _, _, status in checks), server.installers,
                {version: "%.1f" % (100.0 * count / len(checks)) for version, count in versions.items()}]
    picture = os.path.join(top, "fleet.png")
    rows = report(["--by", "hour", "--png", picture, log])
    expect(rows.get("all") == expected, "report: %s, expected %s" % (rows.get("all"), expected))
    with open(picture, "rb") as png:
        head = png.read(24)
    expect(head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR"
           and int.from_bytes(head[16:20], "big") > 0 and int.from_bytes(head[20:24], "big") > 0,
           "report --png wrote no PNG image")

    # The same log again two days earlier: its own day, and left out by --since.
    earlier = os.path.join(top, "earlier.log")
    with open(log) as real, open(earlier, "w") as out:
        for line in real:
            fields = line.rstrip("\n").split("\t")
            fields[10] = "%.3f" % (float(fields[10]) - 2 * 86400)
            out.write("\t".join(fields) + "\n")
    day = time.strftime("%Y-%m-%d", time.gmtime(started - 2 * 86400))
    rows = report(["--by", "day", earlier, log])
    expect(rows.get(day) == expected, "report --by day, %s: %s, expected %s" % (day, rows.get(day), expected))
    expect(rows.get("all", [0])[0] == 2 * len(checks), "report --by day: not every check is counted")
    since = time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(started - 60))
    rows = report(["--since", since, earlier, log])
    expect(rows.get("all") == expected and day not in rows, "report --since %s: %s" % (since, rows))

    print("machines inside at 10 %%: %d of %d (%.1f %%); at 50 %%: %d (%.1f %%); %d checks in %.1f s" % (
        len(inside10), MACHINES, 100.0 * len(inside10) / MACHINES, len(inside50),
        100.0 * len(inside50) / MACHINES, len(checks), time.time() - started))
    if failures:
        print("%d failures; nginx's files are in %s" % (len(failures), top))
        sys.exit(1)
    shutil.rmtree(top)


if __name__ == "__main__":
    main()
