#!/usr/bin/env python3
"""Writes an access log of the reference server, in nginx.conf.in's format,
for a simulated fleet over two weeks: the README's picture of server/report.

  tests/server/fleet_log.py > fleet.log
  server/report --by day --png docs/fleet-report.png fleet.log

2,000 machines on 2.0.0 check once a day. 2.1.0 goes to 5 %, then 20 %, is
halted and rolled back (its machines are offered 2.0.0 again); 2.1.1 goes to
10 %, 50 % and every machine. An offered machine installs at once two times
in three; the others answer "Later" and are offered again next day.
"""

import hashlib
import random
import sys

START = 1796083200  # 2026-12-01 00:00 UTC
# Day: [(version, percent), ...] newest first, as server/publish keeps them;
# None: halted.
PLAN = {0: [("2.0.0", 100)], 3: [("2.1.0", 5), ("2.0.0", 100)], 5: [("2.1.0", 20), ("2.0.0", 100)],
        6: None, 7: [("2.0.0", 100)], 9: [("2.1.1", 10), ("2.0.0", 100)],
        11: [("2.1.1", 50), ("2.0.0", 100)], 12: [("2.1.1", 100)]}


def inside(address, version, percent):
    digest = hashlib.sha256(("%s|%s" % (address, version)).encode()).digest()
    return int.from_bytes(digest[:4], "big") < percent * 2**32 / 100


def offer(address, installed, published):
    for version, percent in published or []:
        if installed == version:
            return None
        if inside(address, version, percent):
            return version
    return None


def main():
    chance = random.Random(26)
    machines = {"10.%d.%d.%d" % (i // 65536, i // 256 % 256, i % 256 + 1): "2.0.0" for i in range(2000)}
    published = None
    lines = []
    for day in range(14):
        published = PLAN.get(day, published)
        for address, installed in machines.items():
            at = START + day * 86400 + chance.uniform(0, 86400)
            offered = offer(address, installed, published)
            status, length = (302, "138") if offered else (204, "")
            lines.append((at, "%d\tGET\t/check\t%s\tUpdater\t%s\t\t%s\thttps\t%s\t%.3f" % (
                status, installed, length, length or 0, address, at)))
            if offered and chance.random() < 2 / 3:
                at += chance.uniform(5, 30)
                lines.append((at, "200\tGET\t/installers/%s/middleware-setup.exe\t\tUpdater\t4194304\t\t4194304\thttps\t%s\t%.3f"
                              % (offered, address, at)))
                machines[address] = offered
    sys.stdout.writelines(line + "\n" for _, line in sorted(lines))


if __name__ == "__main__":
    main()
