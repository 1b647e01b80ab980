#!/usr/bin/env python3
"""Writes the benchmark figures of one run of scripts/bench as markdown.

  report.py FIGURES DLLS_UPDATER DLLS_REFERENCE OUT.md KEY=VALUE...

FIGURES holds "<figure> <program> <value>" lines (bench_driver's and the
script's curl runs); the DLL files list, one a line, what Wine loaded for a
quiet start of the updater and for same_imports; the KEY=VALUE pairs describe
the machine, the build and the run.
"""

import statistics
import sys
from collections import defaultdict

MIB = 1024 * 1024


def load(path):
    samples = defaultdict(list)
    with open(path) as f:
        for line in f:
            figure, program, value = line.split()
            samples[figure, program].append(float(value))
    return samples


def lines(path):
    with open(path) as f:
        return sorted({line.strip() for line in f if line.strip()})


class Report:
    def __init__(self, samples):
        self.samples = samples

    def median(self, figure, program):
        values = self.samples.get((figure, program))
        if not values:
            raise SystemExit(f"report.py: no samples of {figure} for {program}")
        return statistics.median(values)

    def cell(self, figure, program, scale=1.0, digits=0):
        """Median, and the spread as min-max when there are several runs."""
        values = [v / scale for v in self.samples[figure, program]]
        median = statistics.median(values)
        if len(values) == 1:
            return f"{median:.{digits}f}"
        return f"{median:.{digits}f} ({min(values):.{digits}f}–{max(values):.{digits}f})"

    def ratio(self, figure, program, reference):
        a, b = self.median(figure, program), self.median(figure, reference)
        if b == 0:
            return "both 0" if a == 0 else "reference 0"
        return f"{a / b:.2f}"


def main():
    if len(sys.argv) < 5:
        raise SystemExit(__doc__)
    figures, dlls_updater, dlls_reference, out = sys.argv[1:5]
    info = dict(arg.split("=", 1) for arg in sys.argv[5:])
    r = Report(load(figures))
    updater_dlls, reference_dlls = lines(dlls_updater), lines(dlls_reference)
    only_updater = sorted(set(updater_dlls) - set(reference_dlls))
    only_reference = sorted(set(reference_dlls) - set(updater_dlls))
    same = "the same" if not only_updater and not only_reference else (
        f"not the same (updater only: {', '.join(only_updater) or 'none'}; "
        f"same_imports only: {', '.join(only_reference) or 'none'})")
    runs = len(r.samples["get_ms", "updater"])
    downloads = len(r.samples["download_saved_ms", "updater"])
    large = len(r.samples["large_saved_ms", "updater"])
    mib, large_mib = info["download_mib"], info["large_mib"]

    text = f"""# Benchmark figures

Written by `scripts/bench` from its run of {info['date']}; not edited by hand.
Every figure is set beside a reference measured in the same run: the Windows
references under the same Wine, alternately with the updater, and curl
natively on the host just before. The ratio (updater ÷ reference, of the
medians) is the result; the absolute numbers only say what this machine and
this Wine did. Cells give the median and, in brackets, the lowest and the
highest run.

| | |
|---|---|
| Date | {info['date']} |
| Machine | {info['machine']} |
| Wine | {info['wine']}, {info['display']} |
| Host side | {info['tools']} |
| Build | {info['build']} |
| Program | `{info['program']}`, {info['program_bytes']} bytes |
| Runs | {runs} starts of each program per start figure (after one uncounted start of each), {downloads} downloads of {mib} MiB by each (after one uncounted), {large} of {large_mib} MiB by each (right after those, none uncounted), one wait of {info['wait_seconds']} s |

## Ratios

| Figure | Updater | Reference | Ratio |
|---|---|---|---|
| Start to the check's GET arriving, ms | {r.cell('get_ms', 'updater')} | {r.cell('get_ms', 'minimal_get')} `minimal_get` | {r.ratio('get_ms', 'updater', 'minimal_get')} |
| {mib} MiB download, "Yes" to the installer saved, ms | {r.cell('download_saved_ms', 'updater')} | {r.cell('download_saved_ms', 'minimal_get')} `minimal_get` | {r.ratio('download_saved_ms', 'updater', 'minimal_get')} |
| the same against curl (native) | | {r.cell('download_saved_ms', 'curl')} curl | {r.ratio('download_saved_ms', 'updater', 'curl')} |
| {mib} MiB download, peak resident memory, MiB | {r.cell('download_peak_bytes', 'updater', MIB, 1)} | {r.cell('download_peak_bytes', 'minimal_get', MIB, 1)} `minimal_get` | {r.ratio('download_peak_bytes', 'updater', 'minimal_get')} |
| the same against curl (native) | | {r.cell('download_peak_bytes', 'curl', MIB, 1)} curl | {r.ratio('download_peak_bytes', 'updater', 'curl')} |
| {large_mib} MiB download, "Yes" to the installer saved, ms | {r.cell('large_saved_ms', 'updater')} | {r.cell('large_saved_ms', 'minimal_get')} `minimal_get` | {r.ratio('large_saved_ms', 'updater', 'minimal_get')} |
| {large_mib} MiB download, peak resident memory, MiB | {r.cell('large_peak_bytes', 'updater', MIB, 1)} | {r.cell('large_peak_bytes', 'minimal_get', MIB, 1)} `minimal_get` | {r.ratio('large_peak_bytes', 'updater', 'minimal_get')} |
| Waiting copy, CPU time over {info['wait_seconds']} s, ms | {r.cell('wait_cpu_ms', 'updater', digits=3)} | {r.cell('wait_cpu_ms', 'idle_window', digits=3)} `idle_window` | {r.ratio('wait_cpu_ms', 'updater', 'idle_window')} |
| Waiting copy, resident memory at the end, MiB | {r.cell('wait_rss_bytes', 'updater', MIB, 1)} | {r.cell('wait_rss_bytes', 'idle_window', MIB, 1)} `idle_window` | {r.ratio('wait_rss_bytes', 'updater', 'idle_window')} |
| Waiting copy, private memory at the end, MiB | {r.cell('wait_private_bytes', 'updater', MIB, 1)} | {r.cell('wait_private_bytes', 'idle_window', MIB, 1)} `idle_window` | {r.ratio('wait_private_bytes', 'updater', 'idle_window')} |
| Waiting copy, resident memory gained over {info['wait_seconds']} s, KiB | {r.cell('wait_rss_growth_bytes', 'updater', 1024)} | {r.cell('wait_rss_growth_bytes', 'idle_window', 1024)} `idle_window` | {r.ratio('wait_rss_growth_bytes', 'updater', 'idle_window')} |
| Start that ends at once (`/p`, updates off), ms | {r.cell('early_ms', 'updater')} | {r.cell('early_ms', 'same_imports')} `same_imports` | {r.ratio('early_ms', 'updater', 'same_imports')} |

Also measured: "Yes" to the stand-in installer started, {r.cell('download_started_ms', 'updater')} ms
for {mib} MiB and {r.cell('large_started_ms', 'updater')} ms for {large_mib} MiB (the saving above plus
the launch of a new Wine process). Of the waiting copy's private memory,
{r.cell('wait_private_dirty_bytes', 'updater', MIB, 1)} MiB was `Private_Dirty`, of `idle_window`'s
{r.cell('wait_private_dirty_bytes', 'idle_window', MIB, 1)} MiB. The waiting copy's
peak resident memory was {r.cell('wait_peak_bytes', 'updater', MIB, 1)} MiB, `idle_window`'s
{r.cell('wait_peak_bytes', 'idle_window', MIB, 1)} MiB; the CPU time each had used from its start to
the beginning of the measured stretch, {r.cell('wait_cpu_before_ms', 'updater', digits=1)} ms and
{r.cell('wait_cpu_before_ms', 'idle_window', digits=1)} ms, shows that the counter counts. Each ran
{r.cell('wait_threads', 'updater')} and {r.cell('wait_threads', 'idle_window')} Linux threads at the end;
threads that ended during the stretch, whose last CPU time is not counted:
{r.cell('wait_threads_ended', 'updater')} and {r.cell('wait_threads_ended', 'idle_window')}.

## Method

`bench/bench_driver.cpp` runs inside Wine and times every interval with
`QueryPerformanceCounter`, the one clock that all processes of a Wine session
read alike, so no interval mixes Wine's clock with the host's. Its references:

- **Start to the GET.** The driver listens on a loopback port of its own and
  starts the updater with that port's `/check` as its URL; the interval runs
  from just before `CreateProcess` to the moment the whole head of the GET has
  arrived. The driver answers 204 ("no update"), and the updater ends unseen
  with 1. The reference, `bench/minimal_get.cpp`, makes the same one GET with
  the same WinInet calls and flags and nothing else.
- **Download.** `bench/download_server.py` (Python, on the host's loopback)
  answers `/<bytes>/check` with a 302 and `/<bytes>/installer.exe` with that
  many bytes: the tests' stand-in installer padded with zeros, with a
  Content-Length. The zeros come from one 1 MiB block, so the server holds
  no body in memory beside the programs measured. The driver
  starts the updater, waits for the offer, presses "Yes" (`BN_CLICKED`, as the
  tests' dialog driver does) and polls every 2 ms for the renamed installer
  file in `%USERPROFILE%\\tavrin\\brenlo` (its size is checked), then for the
  installer's record of its start. `minimal_get` saves the same body to a file
  in that folder in 64 KiB pieces and times itself from its entry point to
  the file closed; curl (`curl -s -o FILE`, native, in the build tree's file
  system) reports `time_total`. `minimal_get` and curl write as they read,
  so their peak does not depend on the body's size.
- **The larger download** is the same with {large_mib} MiB, {large} times for each
  program, alternately, right after the {mib} MiB ones (which warm up the same
  code, server and folder), against `minimal_get` only. A program that holds
  the whole body in memory shows it here: its peak grows with the body, by
  about {int(large_mib) - int(mib)} MiB, and its ratio with it; a program that writes
  through a fixed buffer keeps the peak of the {mib} MiB download.
- **Peak memory** is the peak working set that Wine reports: for another
  process, `GetProcessMemoryInfo` gives `PeakWorkingSetSize`, which Wine reads
  from the kernel's VmHWM of that process (checked against `/proc` while
  building this benchmark). The updater's is read while it waits for the
  stand-in installer, which holds on for 2 s; `minimal_get` reads its own at
  its end; curl's is the maximum resident set of GNU time (`%M`).
- **Waiting copy.** The driver writes what a reminder leaves (`delaymode` 1,
  `lasttime` now, `md_cu_disable` 1) and starts the updater as a reminder
  starts its copy (`"" URL 0`). Beside it runs `bench/idle_window.cpp`, a
  hidden top-level window with a 90 s timer and a message loop. Each gets
  one more argument, which it ignores: a marker by which the driver finds
  its Linux process under `Z:\\proc` (Wine shows the Windows command line
  as the process's own). Once both windows exist, and 5 s later, the driver
  reads each process's CPU time, the sum over its threads of the first
  field of `/proc/PID/task/TID/schedstat` (the scheduler's count, in ns),
  and its working set; waits {info['wait_seconds']} s and reads them again. Wine cannot
  give the CPU time of another process: its `GetProcessTimes` answers, for
  any process, with the caller's own times. The driver checks that the copy
  still runs, stays hidden and sent no request. Neither 90 s timer fires
  within the stretch. At the end it also reads each process's private
  memory: `Private_Clean` + `Private_Dirty` of `/proc/PID/smaps_rollup` of
  its Wine process, the pages no other process maps. The working set also
  counts the pages of Wine and of the system DLLs that every Wine process
  shares; a user pays for those once, whatever else runs, so the private
  figure is what one more waiting copy costs. `Private_Clean` counts file
  pages that no other process maps at that moment, so it moves with the
  other Wine programs running on the machine; `Private_Dirty` (given
  below the table) is the steadier part.
- **Start that ends at once.** With `md_cu_disable` 1, `/p "" URL 0` ends with
  0 before any window or request; the interval runs from `CreateProcess` to the
  process's end. The reference, `bench/same_imports.cpp`, imports one function
  of each DLL the updater imports and ends as the updater does
  (`TerminateProcess` on itself). The DLLs Wine loaded for each, taken from
  `WINEDEBUG=+loaddll` in this run, were {same}: {len(updater_dlls)} for the
  updater, {len(reference_dlls)} for `same_imports`.

The Wine prefix is the benchmark's own ({info['prefix']}). Its X11 driver
leaves windows unmanaged (`HKCU\\Software\\Wine\\X11 Driver`, `Managed`=`N`):
the virtual display has no window manager, and Wine otherwise waits up to
2 s for one whenever a managed window is hidden, which the updater does
before it saves the installer; on Windows, hiding a window does not wait.
"""
    with open(out, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
