#!/usr/bin/env python3
"""JVM benchmarks of Veskline against the floor agent and against no agent.

Each workload runs under three configurations, one after the other, round after
round: no agent, the floor agent (same capabilities and event switching as
Veskline, handlers that do nothing) and Veskline. The order of the three turns
by one each round, so that drift in the machine's load falls on all three
alike. Three times are taken per run: the workload's own, measured inside the
Java program with System.nanoTime, the wall time of the whole process, and the
process's CPU time (user + system), which other load on the machine disturbs
least. The report gives medians and the ratios Veskline/floor (the agent's own
share) and floor/no-agent (what the VM charges for method events), both as a
ratio of medians and as the median of the ratios within each round.

--safepoints counts the VM safepoints (and handshakes) of one run of each
workload and configuration with -Xlog:safepoint and -Xlog:handshake.

--smoke runs everything once with tiny sizes and fails only if a run exits
non-zero or prints anything besides the workload's own line: no time is ever
checked.
"""

import argparse
import collections
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

JVM_ROOT = "/usr/lib/jvm"
MIN_JDK = 17
CONFIGS = ("none", "floor", "veskline")
RESULT_LINE = re.compile(r"^VESKBENCH (\w+) workload_ns=(\d+)$")
SAFEPOINT_LINE = re.compile(r'Safepoint "([^"]+)"')
HANDSHAKE_LINE = re.compile(r'Handshake "([^"]+)"')


class Workload:
    def __init__(self, name, java_class, full_args, smoke_args, what):
        self.name = name
        self.java_class = java_class
        self.full_args = full_args
        self.smoke_args = smoke_args
        self.what = what


# Full sizes make one Veskline run take roughly 0.5-3 s on a 2-core machine.
WORKLOADS = (
    Workload("call-loop", "CallLoop", ["2000000"], ["2000"],
             "calls of a tiny static method after one thread start, method events on"),
    Workload("startup-compute", "StartupCompute", ["6000000"], ["20000"],
             "sieve before any application thread start, few calls"),
    Workload("threads-1000", "ThreadStorm", ["1000", "1", "8"], ["16", "1", "8"],
             "1000 short threads, 8 alive at once, 1 context"),
    Workload("threads-2000", "ThreadStorm", ["2000", "1", "8"], ["16", "1", "8"],
             "2000 short threads, 8 alive at once, 1 context"),
    Workload("threads-4000", "ThreadStorm", ["4000", "1", "8"], ["16", "1", "8"],
             "4000 short threads, 8 alive at once, 1 context"),
    Workload("threads-2000-ctx30", "ThreadStorm", ["2000", "30", "8"], ["16", "30", "8"],
             "2000 short threads, 8 alive at once, 30 contexts in turn"),
    Workload("pingpong", "PingPong", ["20000", "0"], ["200", "0"],
             "wait/notify turns between two threads with contexts"),
    Workload("pingpong-rearm", "PingPong", ["2000", "1"], ["50", "1"],
             "the same, and an empty thread started every turn switches method events back on"),
)


def jdk_major(home):
    release = os.path.join(home, "release")
    try:
        with open(release, encoding="utf-8") as f:
            for line in f:
                if line.startswith("JAVA_VERSION="):
                    version = line.split("=", 1)[1].strip().strip('"')
                    head = version.split(".")[0]
                    return int(head) if head.isdigit() else None
    except OSError:
        pass
    out = subprocess.run([os.path.join(home, "bin", "java"), "-version"],
                         capture_output=True, text=True).stderr
    found = re.search(r'version "(\d+)', out)
    return int(found.group(1)) if found else None


def find_jdks():
    """Every JDK under /usr/lib/jvm at MIN_JDK or later, once per real path."""
    seen = {}
    if not os.path.isdir(JVM_ROOT):
        return []
    for entry in sorted(os.listdir(JVM_ROOT)):
        home = os.path.join(JVM_ROOT, entry)
        java = os.path.join(home, "bin", "java")
        if not os.path.isfile(java) or not os.access(java, os.X_OK):
            continue
        real = os.path.realpath(home)
        if real in seen:
            continue
        major = jdk_major(real)
        if major is not None and major >= MIN_JDK:
            seen[real] = major
    return sorted(seen.items(), key=lambda item: (item[1], item[0]))


def java_command(jdk_home, config, paths, workload, args, extra_flags=()):
    command = [os.path.join(jdk_home, "bin", "java")]
    if config == "floor":
        command.append("-agentpath:" + paths.floor)
    elif config == "veskline":
        command.append("-agentpath:" + paths.agent)
    command.extend(extra_flags)
    command.extend(["-cp", paths.classes, workload.java_class])
    command.extend(args)
    return command


class RunFailure(Exception):
    pass


def run_once(command, java_class):
    """Runs one JVM; gives (workload ns, wall ns, CPU ns of the process). Anything
    on the output but the workload's own line (an agent's message, say) is a
    failure."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        begin = time.perf_counter_ns()
        child = subprocess.Popen(command, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter_ns() - begin
        child.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        stdout = out.read().decode("utf-8", "replace")
        stderr = err.read().decode("utf-8", "replace")
    cpu = int((usage.ru_utime + usage.ru_stime) * 1e9)
    lines = stdout.splitlines()
    matched = RESULT_LINE.match(lines[0]) if len(lines) == 1 else None
    if child.returncode != 0 or matched is None or matched.group(1) != java_class or stderr:
        raise RunFailure("%s\n  exit status %d\n  stdout: %r\n  stderr: %r" % (
            " ".join(command), child.returncode, stdout[-2000:], stderr[-2000:]))
    return int(matched.group(2)), wall, cpu


def rotated(round_index):
    shift = round_index % len(CONFIGS)
    return CONFIGS[shift:] + CONFIGS[:shift]


def ratio(a, b):
    return a / b if b else float("nan")


def ms(ns):
    return ns / 1e6


class Timings:
    """One workload on one JDK: per configuration, the times of every round."""

    def __init__(self, jdk_home, major, workload):
        self.jdk_home = jdk_home
        self.major = major
        self.workload = workload
        self.inside = collections.defaultdict(dict)   # config -> round -> ns
        self.wall = collections.defaultdict(dict)
        self.cpu = collections.defaultdict(dict)

    def complete(self):
        return all(self.inside[c] for c in CONFIGS)

    def median(self, kind, config):
        return statistics.median(getattr(self, kind)[config].values())

    def paired_ratio(self, kind, over, under):
        """Median over the rounds of over/under within the same round: the two
        runs of a pair are neighbours in time, so they saw the same load."""
        a, b = getattr(self, kind)[over], getattr(self, kind)[under]
        ratios = [a[r] / b[r] for r in a if r in b and b[r]]
        return statistics.median(ratios) if ratios else float("nan")


def time_workloads(jdks, workloads, paths, rounds, smoke, failures):
    results = []
    for jdk_home, major in jdks:
        for workload in workloads:
            args = workload.smoke_args if smoke else workload.full_args
            timings = Timings(jdk_home, major, workload)
            for round_index in range(rounds):
                for config in rotated(round_index):
                    command = java_command(jdk_home, config, paths, workload, args)
                    try:
                        inside, wall, cpu = run_once(command, workload.java_class)
                    except RunFailure as failure:
                        failures.append(str(failure))
                        print("FAILED: " + str(failure), file=sys.stderr, flush=True)
                        continue
                    timings.inside[config][round_index] = inside
                    timings.wall[config][round_index] = wall
                    timings.cpu[config][round_index] = cpu
            results.append(timings)
            if not smoke and timings.complete():
                print_progress(timings)
    return results


def print_progress(t):
    parts = ["%s %.1f/%.1f/%.1f ms" % (c, ms(t.median("inside", c)), ms(t.median("wall", c)),
                                         ms(t.median("cpu", c))) for c in CONFIGS]
    print("  [JDK %d] %-18s inside/wall/cpu %s" % (t.major, t.workload.name, ", ".join(parts)),
          file=sys.stderr, flush=True)


def print_timings(results, rounds):
    print("\n## Medians of %d interleaved rounds, ms\n" % rounds)
    print("inside: the workload alone (System.nanoTime in the program); wall: the whole process;")
    print("cpu: user + system time of the whole process.\n")
    print("| JDK | workload | no agent inside / wall / cpu | floor inside / wall / cpu | Veskline inside / wall / cpu |")
    print("|---|---|---|---|---|")
    for t in results:
        if not t.complete():
            print("| %d | %s | incomplete: a run failed | | |" % (t.major, t.workload.name))
            continue
        print("| %d | %s | %s |" % (t.major, t.workload.name, " | ".join(
            "%.1f / %.0f / %.0f" % (ms(t.median("inside", c)), ms(t.median("wall", c)), ms(t.median("cpu", c)))
            for c in CONFIGS)))

    print("\n## Ratios\n")
    print("Of the medians above, and (paired) the median of the ratios taken within each round.\n")
    print("| JDK | workload | Veskline/floor inside | paired | wall | cpu "
          "| floor/no-agent inside | paired | wall | cpu |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for t in results:
        if not t.complete():
            continue
        cells = []
        for over, under in (("veskline", "floor"), ("floor", "none")):
            cells.append("%.2f" % ratio(t.median("inside", over), t.median("inside", under)))
            cells.append("%.2f" % t.paired_ratio("inside", over, under))
            cells.append("%.2f" % ratio(t.median("wall", over), t.median("wall", under)))
            cells.append("%.2f" % ratio(t.median("cpu", over), t.median("cpu", under)))
        print("| %d | %s | %s |" % (t.major, t.workload.name, " | ".join(cells)))

    print("\n## Spread of the inside times: fastest and slowest of the %d rounds, ms\n" % rounds)
    print("| JDK | workload | no agent | floor | Veskline |")
    print("|---|---|---|---|---|")
    for t in results:
        if not t.complete():
            continue
        print("| %d | %s | %s |" % (t.major, t.workload.name, " | ".join(
            "%.1f - %.1f" % (ms(min(t.inside[c].values())), ms(max(t.inside[c].values()))) for c in CONFIGS)))


def count_safepoints(jdks, workloads, paths, smoke, failures):
    results = []   # (major, workload, config, safepoints Counter, handshakes Counter)
    with tempfile.TemporaryDirectory(prefix="vesk-safepoints-") as scratch:
        for jdk_home, major in jdks:
            for workload in workloads:
                args = workload.smoke_args if smoke else workload.full_args
                for config in CONFIGS:
                    log = os.path.join(scratch, "%d-%s-%s.log" % (major, workload.name, config))
                    flags = ["-Xlog:safepoint=info,handshake=info:file=%s:none" % log]
                    command = java_command(jdk_home, config, paths, workload, args, flags)
                    try:
                        run_once(command, workload.java_class)
                    except RunFailure as failure:
                        failures.append(str(failure))
                        print("FAILED: " + str(failure), file=sys.stderr, flush=True)
                        continue
                    safepoints = collections.Counter()
                    handshakes = collections.Counter()
                    with open(log, encoding="utf-8", errors="replace") as f:
                        for line in f:
                            found = SAFEPOINT_LINE.search(line)
                            if found:
                                safepoints[found.group(1)] += 1
                                continue
                            found = HANDSHAKE_LINE.search(line)
                            if found:
                                handshakes[found.group(1)] += 1
                    results.append((major, workload, config, safepoints, handshakes))
    return results


def top(counter, count=3):
    return ", ".join("%s %d" % item for item in counter.most_common(count)) or "-"


def print_safepoints(results):
    print("\n## VM safepoints and handshakes, one run each (-Xlog:safepoint, -Xlog:handshake)\n")
    print("| JDK | workload | config | safepoints | most frequent | handshakes | most frequent |")
    print("|---|---|---|---|---|---|---|")
    for major, workload, config, safepoints, handshakes in results:
        print("| %d | %s | %s | %d | %s | %d | %s |" % (
            major, workload.name, config, sum(safepoints.values()), top(safepoints),
            sum(handshakes.values()), top(handshakes)))


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--agent", required=True, help="path of libveskline.so")
    parser.add_argument("--floor", required=True, help="path of libveskline_floor.so")
    parser.add_argument("--classes", required=True, help="directory of the compiled workloads")
    parser.add_argument("--rounds", type=int, default=5, help="interleaved rounds per workload (default 5)")
    parser.add_argument("--smoke", action="store_true",
                        help="one round, tiny sizes, timings and safepoint counts; checks only that runs work")
    parser.add_argument("--safepoints", action="store_true", help="also count safepoints per workload")
    parser.add_argument("--safepoints-only", action="store_true", help="count safepoints, take no timings")
    parser.add_argument("--jdk", action="append", default=[],
                        help="JDK home to use (repeatable); default: every JDK >= 17 under /usr/lib/jvm")
    parser.add_argument("--workload", action="append", default=[],
                        help="run only this workload (repeatable): " + ", ".join(w.name for w in WORKLOADS))
    return parser.parse_args(argv)


def main(argv):
    options = parse_args(argv)
    paths = argparse.Namespace(agent=os.path.abspath(options.agent), floor=os.path.abspath(options.floor),
                               classes=os.path.abspath(options.classes))
    for path in (paths.agent, paths.floor):
        if not os.path.isfile(path):
            print("missing agent library: " + path, file=sys.stderr)
            return 2
    if options.jdk:
        jdks = [(os.path.realpath(home), jdk_major(os.path.realpath(home))) for home in options.jdk]
    else:
        jdks = find_jdks()
    if not jdks:
        print("no JDK %d or later under %s" % (MIN_JDK, JVM_ROOT), file=sys.stderr)
        return 2
    workloads = [w for w in WORKLOADS if not options.workload or w.name in options.workload]
    unknown = set(options.workload) - {w.name for w in WORKLOADS}
    if unknown:
        print("unknown workload: " + ", ".join(sorted(unknown)), file=sys.stderr)
        return 2
    rounds = 1 if options.smoke else max(1, options.rounds)

    print("# Veskline JVM benchmarks")
    print("\nmachine: %d CPUs online, %s" % (os.cpu_count() or 0, " ".join(os.uname()[2:5:2])))
    for home, major in jdks:
        print("JDK %d: %s" % (major, home))
    print("mode: %s" % ("smoke (tiny sizes, nothing measured)" if options.smoke else "full"))
    print("\n| workload | class and arguments | what it does |")
    print("|---|---|---|")
    for w in workloads:
        args = w.smoke_args if options.smoke else w.full_args
        print("| %s | %s %s | %s |" % (w.name, w.java_class, " ".join(args), w.what))
    sys.stdout.flush()

    failures = []
    if not options.safepoints_only:
        results = time_workloads(jdks, workloads, paths, rounds, options.smoke, failures)
        print_timings(results, rounds)
    if options.safepoints or options.safepoints_only or options.smoke:
        print_safepoints(count_safepoints(jdks, workloads, paths, options.smoke, failures))
    if failures:
        print("\n%d run(s) failed; see above." % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
