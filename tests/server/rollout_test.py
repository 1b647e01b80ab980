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
import random
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


def ask(port, address, header=None, path="/check", method="GET", extra="", headers=None, before=""):
    """One request from ADDRESS on a connection of its own: (status, Location
    path or None, body length). EXTRA holds further header lines, BEFORE what
    comes before the request (a PROXY line); the response's headers go into
    the dict HEADERS when one is given."""
    with socket.socket() as connection:
        connection.bind((address, 0))
        connection.settimeout(10)
        connection.connect(("127.0.0.1", port))
        lines = ["%s %s HTTP/1.1" % (method, path), "Host: 127.0.0.1", "User-Agent: Updater",
                 "Connection: close"]
        if header is not None:
            lines.append("X-Last-Installed-Update: " + header)
        connection.sendall((before + "\r\n".join(lines) + "\r\n" + extra + "\r\n").encode())
        answer = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                break
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    head = head.decode("latin-1").split("\r\n")
    if headers is not None:
        headers.update((h.split(":", 1)[0].lower(), h.split(":", 1)[1].strip()) for h in head[1:] if ":" in h)
    location = next((h.split(":", 1)[1].strip() for h in head if h.lower().startswith("location:")), None)
    return int(head[0].split()[1]), location, len(body)


def installer(version):
    return "/installers/%s/middleware-setup.exe" % version


class Server:
    """nginx from server/run on a free port, its checks tallied for the report."""

    def __init__(self, root, work, options=(), environment=None):
        self.root, self.work, self.conf = root, work, os.path.join(work, "nginx.conf")
        self.checks = []  # (address, header, status)
        self.installers = 0
        for _ in range(5):
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                self.port = probe.getsockname()[1]
            # server/run without a command becomes nginx itself.
            self.nginx = subprocess.Popen([os.path.join(SERVER, "run"), "--http", "127.0.0.1:%d" % self.port]
                                          + list(options) + [root, work], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.PIPE, env=dict(os.environ, **(environment or {})))
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
        """Runs server/publish; what it says is served from its return on.
        Returns the generation it printed."""
        done = subprocess.run([os.path.join(SERVER, "publish"), "--nginx-conf", self.conf] + list(arguments),
                              capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit("publish %s failed: %s" % (" ".join(arguments), done.stderr))
        return int(re.search(r"generation (\d+), served$", done.stdout.strip()).group(1))

    def fleet(self, machines):
        """Asks /check for every (address, header); returns their answers."""
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(lambda m: ask(self.port, *m), machines))
        self.checks += [(m[0], m[1], status) for m, (status, _, _) in zip(machines, answers)]
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


def bucket(number):
    return "X-Rollout-Bucket: %s\r\n" % number


def nodes_test(top, files):
    """Rollout by the updater's bucket, behind a trusted balancer, never an
    older installer, publish runs at once and refused, and two nodes
    published in two phases, with the report over both logs."""
    chance = random.Random(33)
    nodes = []
    for name, options, zone in (("a", ["--trusted-proxy", "127.0.0.254"], None),
                                ("b", ["--truncate-logged-addresses"], "Pacific/Kiritimati")):
        root, work = os.path.join(top, name, "root"), os.path.join(top, name, "nginx")
        os.makedirs(work)
        subprocess.run([os.path.join(SERVER, "publish"), root, OLD, files[OLD]], check=True, stdout=subprocess.DEVNULL)
        nodes.append(Server(root, work, options, {"TZ": zone} if zone else None))
    a, b = nodes
    try:
        # 2,000 machines behind one NAT address, each with its own bucket.
        nat = machine(0, 3)
        buckets = [chance.randrange(10000) for _ in range(MACHINES)]
        behind = [(nat, OLD, "/check", "GET", bucket(n)) for n in buckets]
        a.publish("--rollout", "10", a.root, NEW, files[NEW])
        inside10 = {i for i, answer in enumerate(a.fleet(behind)) if answer[1] == installer(NEW)}
        within(len(inside10), MACHINES, 0.1, "buckets at 10 %")
        again = {i for i, answer in enumerate(a.fleet(behind)) if answer[1] == installer(NEW)}
        expect(again == inside10, "buckets at 10 %%: %d changed between two surveys" % len(again ^ inside10))
        # Without a valid bucket the address decides: one answer for all.
        plain = {ask(a.port, nat, OLD, extra=extra)[:2]
                 for extra in ["", bucket("abc"), bucket("-1"), bucket("10000"), bucket("1" * 300), bucket("01")]}
        expect(len(plain) == 1, "one NAT address without a valid bucket got %s" % plain)

        # Through the trusted balancer the machine's own address decides, as
        # if it asked directly; from anyone else the header is ignored. IPv6
        # machines count by their /64, however nginx spells the address.
        direct = a.fleet([(machine(i, 4), OLD) for i in range(400)])
        proxied = a.fleet([("127.0.0.254", OLD, "/check", "GET", "X-Forwarded-For: %s\r\n" % machine(i, 4))
                           for i in range(400)])
        expect(direct == proxied, "through the balancer %d of 400 answers differ from direct ones"
               % sum(d != p for d, p in zip(direct, proxied)))
        # The same behind balancers that speak the PROXY protocol (node c,
        # in the state node a had).
        subprocess.run([os.path.join(SERVER, "publish"), os.path.join(top, "c", "root"), OLD, files[OLD]],
                       check=True, stdout=subprocess.DEVNULL)
        c = Server(os.path.join(top, "c", "root"), os.path.join(top, "c", "nginx"),
                   ["--trusted-proxy", "127.0.0.254", "--proxy-protocol", "--truncate-logged-addresses"])
        nodes.append(c)
        c.publish("--rollout", "10", c.root, NEW, files[NEW])
        spoken = [ask(c.port, "127.0.0.254", OLD, before="PROXY TCP4 %s 127.0.0.1 4000 80\r\n" % machine(i, 4))
                  for i in range(400)]
        expect(spoken == direct, "through the PROXY protocol %d of 400 answers differ from direct ones"
               % sum(d != p for d, p in zip(direct, spoken)))
        # Node c logs IPv6 machines by their /48, however nginx spells them.
        truncated = {"2001:db8:1:2::5": "2001:db8:1::", "2001:db8::5": "2001:db8:0::",
                     "0:0:5:6:7:8:9:a": "0:0:5::", "1::5": "1:0:0::", "::5": "::"}
        for address in truncated:
            ask(c.port, "127.0.0.254", before="PROXY TCP6 %s ::1 4000 80\r\n" % address)
        logged = [line.split("\t")[9] for line in open(os.path.join(c.work, "access.log"))][-len(truncated):]
        expect(logged == list(truncated.values()), "node c logged %s" % logged)
        # From an untrusted address, machines answered otherwise than it.
        own = ask(a.port, "127.0.0.253", OLD)[:2]
        others = [machine(i, 4) for i in range(400) if direct[i][:2] != own][:10]
        forged = {ask(a.port, "127.0.0.253", OLD, extra="X-Forwarded-For: %s\r\n" % m)[:2] for m in others}
        forged |= {ask(c.port, "127.0.0.253", OLD, before="PROXY TCP4 %s 127.0.0.1 4000 80\r\n" % m)[:2]
                   for m in others}
        expect(others and forged == {own}, "an untrusted address chose its machine's answer: %s" % forged)
        # nginx writes each address its own way (the longest run of zero
        # groups as "::"): every one of them must find the same /64.
        ids = [(0, 0, 0, 1), (1, 2, 3, 4), (0, 0, 1, 0), (0, 0, 0, 0), (1, 0, 0, 1), (0, 0, 5, 6)]
        networks = [form(n // 256 + 1, n % 256 + 1) for n in range(50)
                    for form in (lambda p, s: (0x2001, 0xdb8, p, s), lambda p, s: (0, 0, p, s),
                                 lambda p, s: (p, 0, 0, s))]
        inside6 = 0
        for network in networks:
            answers = {ask(a.port, "127.0.0.254", OLD, extra="X-Forwarded-For: %s\r\n"
                           % ":".join("%x" % group for group in network + host))[:2] for host in ids}
            expect(len(answers) == 1, "one /64 (%s) got %s" % (network, answers))
            inside6 += (302, installer(NEW)) in answers
        within(inside6, len(networks), 0.1, "IPv6 networks at 10 %")

        # Raised to 50 % and halted at once: the one that ran last is served,
        # and published.conf is whole.
        runs = [subprocess.Popen([os.path.join(SERVER, "publish"), "--nginx-conf", a.conf] + arguments,
                                 stdout=subprocess.PIPE, text=True)
                for arguments in (["--rollout", "50", a.root, NEW], ["--halt", a.root])]
        said = [run.communicate()[0] for run in runs]
        expect(all(run.returncode == 0 for run in runs), "publish at once: %s" % said)
        generations = [int(re.search(r"generation (\d+)", text).group(1)) for text in said]
        halt_last = generations[1] > generations[0]
        answers = a.fleet(behind)
        inside50 = {i for i, answer in enumerate(answers) if answer[1] == installer(NEW)}
        if halt_last:
            expect(not inside50, "halted last, yet %d offered" % len(inside50))
            a.publish("--rollout", "50", a.root, NEW)
            inside50 = {i for i, answer in enumerate(a.fleet(behind)) if answer[1] == installer(NEW)}
        with open(os.path.join(a.root, "published.conf")) as state:
            text = state.read()
        expect("#: generation %d\n" % (max(generations) + (1 if halt_last else 0)) in text and text.endswith("}\n"),
               "published.conf after two publish runs at once:\n" + text)
        within(len(inside50), MACHINES, 0.5, "buckets at 50 %")
        expect(inside10 <= inside50, "buckets at 50 %%: %d of the 10 %% are out" % len(inside10 - inside50))

        # A configuration nginx refuses, and a stale pid file: nothing changes.
        before = (text, sorted(os.listdir(os.path.join(a.root, "installers"))), a.fleet(behind[:300]))
        with open(a.conf) as conf:
            good = conf.read()
        stale = os.path.join(a.work, "stale.conf")
        with open(stale, "w") as conf:
            conf.write(good.replace(os.path.join(a.work, "nginx.pid"), os.path.join(a.work, "stale.pid")))
        with open(os.path.join(a.work, "stale.pid"), "w") as pid:
            pid.write("1\n")
        with open(a.conf, "a") as conf:
            conf.write("refused;\n")
        for conf, why in ((a.conf, "refuses"), (stale, "stale")):
            done = subprocess.run([os.path.join(SERVER, "publish"), "--nginx-conf", conf, a.root, "3.0.0", files[OLD]],
                                  capture_output=True, text=True)
            expect(done.returncode == 1 and why in done.stderr, "publish with a conf nginx %s: %s" % (why, done.stderr))
        with open(a.conf, "w") as conf:
            conf.write(good)
        with open(os.path.join(a.root, "published.conf")) as state:
            after = (state.read(), sorted(os.listdir(os.path.join(a.root, "installers"))), a.fleet(behind[:300]))
        expect(after == before, "a refused publish changed the state")

        # Never an older installer, on node b (its log truncates addresses).
        b.publish(b.root, NEW, files[NEW])
        for reported, status in (("2.2.0", 204), ("2.1.1", 204), ("10.0", 204), ("2.1.0.0.1", 204),
                                 ("2.0.9", 302), ("1.0", 302), (None, 302), ("garbage", 302), ("02.0.10", 302)):
            expect(ask(b.port, machine(0, 5), reported)[0] == status, "reported %s: not %d" % (reported, status))
        # A rollback offers the older version to the machines on the withdrawn one.
        b.publish(b.root, OLD, files[OLD])
        expect(ask(b.port, machine(0, 5), NEW)[:2] == (302, installer(OLD)), "rolled back: not offered " + OLD)
        expect(ask(b.port, machine(0, 5), "2.2.0")[0] == 204, "rolled back: 2.2.0 offered " + OLD)

        # Two phases over both nodes: the installer everywhere at 0 %, then
        # the share; a machine gets the same answer from either node.
        for node in (a, b):
            node.publish("--rollout", "0", node.root, "3.0.0", files["3.0.0"])
        offered = [answer for node in (a, b) for answer in node.fleet(behind[:500]) if answer[1] == installer("3.0.0")]
        expect(not offered, "offered 3.0.0 at 0 %")
        for node in (a, b):
            node.publish("--rollout", "10", node.root, "3.0.0")
        inside = [{i for i, answer in enumerate(node.fleet(behind)) if answer[1] == installer("3.0.0")}
                  for node in (a, b)]
        expect(inside[0] == inside[1], "the nodes offer 3.0.0 to different machines: %d" % len(inside[0] ^ inside[1]))
        within(len(inside[0]), MACHINES, 0.1, "3.0.0 at 10 %")
        expect(all(ask(node.port, nat, path=installer("3.0.0"))[0] == 200 for node in (a, b)),
               "a node does not serve the installer it offers")
        said = {}
        ask(b.port, nat, headers=said)
        expect(said.get("x-server-day") == time.strftime("%Y-%m-%d", time.gmtime()),
               "node b, in another zone, says the day is %s" % said.get("x-server-day"))
        print("buckets behind one address: %d of %d inside at 10 %%, %d at 50 %%; IPv6 /64 networks: %d of %d at 10 %%"
              % (len(inside10), MACHINES, len(inside50), inside6, len(networks)))
    finally:
        for node in nodes:
            node.stop()
    logged = [line.split("\t")[9] for line in open(os.path.join(b.work, "access.log"))]
    expect(all(address.endswith(".0") for address in logged), "node b logged whole addresses")


def report_test(top):
    """Machines counted once a day from the day they echo, over two nodes'
    logs: NAT, roaming, many checks a machine, and old updaters apart."""
    day = 1796083200  # 2026-12-01
    logs = [open(os.path.join(top, "node%d.log" % n), "w") for n in (0, 1)]
    line = "%d\tGET\t/check\t%s\tUpdater\t\t\t0\thttps\t%s\t%.3f\t%s\t%s\n"
    machines = {}  # version of each machine; checks: 1 to 5 a day, any node, any address
    for m in range(300):
        version = ("2.0.0", "2.1.0", "")[m % 3 if m < 150 else 0]
        machines[m] = version
        for d in (0, 1):
            for k in range(1 + m % 5):
                echoed = ("none" if d == 0 else "2026-12-01") if k == 0 else ("2026-12-0%d" % (d + 1))
                address = "10.0.0.1" if m % 2 else "10.1.%d.%d" % (m, k)  # NAT, or roaming
                logs[(m + k) % 2].write(line % (204, version, address, day + d * 86400 + m * 60 + k, echoed, m))
    for n in range(40):  # old updaters: no day, 20 addresses, two checks each
        logs[n % 2].write(line % (302, "1.0", "10.9.0.%d" % (n % 20), day + 3600 + n, "", ""))
    for log in logs:
        log.close()
    done = subprocess.run([os.path.join(SERVER, "report")] + [log.name for log in logs], capture_output=True, text=True)
    rows = {}
    for text in done.stdout.splitlines():
        found = re.match(r"(\S+)\s+(\d+)\s+(\d+)\s+by machine: (.*)$", text)
        if found:
            rows[found.group(1)] = (int(found.group(2)), int(found.group(3)), dict(re.findall(r"(\S+) ([\d.]+)%", found.group(4))))
    shares = {"2.0.0": "66.7", "2.1.0": "16.7", "none": "16.7"}
    expect(rows.get("2026-12-01") == (300, 20, shares) and rows.get("2026-12-02") == (300, 0, shares),
           "report by machine: %s\n%s" % (rows, done.stdout + done.stderr))


def main():
    started = time.time()
    top = tempfile.mkdtemp()
    os.chmod(top, 0o755)  # nginx started as root reads the files as nobody
    root, work = os.path.join(top, "root"), os.path.join(top, "nginx")
    os.makedirs(work)
    files = {}
    for version, size in ((OLD, 40000), (NEW, 50000), ("3.0.0", 30000)):
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
        again = {i for i, (status, location, _) in enumerate(server.fleet(fleet)) if location == installer(NEW)}
        expect(again == inside10, "10 %%: a second survey found %d others inside" % len(again ^ inside10))

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

    nodes_test(top, files)
    report_test(top)

    print("machines inside at 10 %%: %d of %d (%.1f %%); at 50 %%: %d (%.1f %%); %d checks in %.1f s" % (
        len(inside10), MACHINES, 100.0 * len(inside10) / MACHINES, len(inside50),
        100.0 * len(inside50) / MACHINES, len(checks), time.time() - started))
    if failures:
        print("%d failures; nginx's files are in %s" % (len(failures), top))
        sys.exit(1)
    shutil.rmtree(top)


if __name__ == "__main__":
    main()
