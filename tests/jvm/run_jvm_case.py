#!/usr/bin/env python3
"""Runs one Java program in a fresh JVM under the agent and checks how it ends.

    run_jvm_case.py run --jdk HOME --agent LIB [--agent-options TEXT] [--classpath DIR]
                        --status N (--stdout TEXT | --stdout-file FILE) [--timeout S] -- JAVA_ARGS...
    run_jvm_case.py exports LIB SYMBOL...

`run` passes when the JVM exits with status N and prints exactly TEXT (plus a
line end when TEXT is not empty), or exactly the contents of FILE, on standard
output. A run expected to succeed
must also leave no trace of the agent on either stream. A JDK that is not
installed skips the case (exit code 77). `exports` passes when the library's
dynamic symbol table defines exactly the given symbols.
"""
import argparse
import os
import subprocess
import sys

SKIP = 77
AGENT_TRACES = ("[Vesk]", "ERROR:")


def fail(lines):
    print("FAIL")
    for line in lines:
        print(line)
    return 1


def run_case(args):
    java = os.path.join(args.jdk, "bin", "java")
    if not os.access(java, os.X_OK):
        print(f"SKIP: JDK absent: {args.jdk}")
        return SKIP
    agent = f"-agentpath:{args.agent}"
    if args.agent_options is not None:
        agent += f"={args.agent_options}"
    command = [java, agent]
    if args.classpath:
        command += ["-cp", args.classpath]
    command += args.java_args
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=args.timeout)
    except subprocess.TimeoutExpired as expired:
        return fail([f"timed out after {args.timeout}s: {' '.join(command)}",
                     f"stdout: {expired.stdout!r}", f"stderr: {expired.stderr!r}"])

    if args.stdout_file is not None:
        with open(args.stdout_file, encoding="utf-8") as expected:
            expected_stdout = expected.read()
    else:
        expected_stdout = args.stdout + "\n" if args.stdout else ""
    problems = []
    if done.returncode != args.status:
        problems.append(f"exit status {done.returncode}, expected {args.status}")
    if done.stdout != expected_stdout:
        problems.append(f"stdout {done.stdout!r}, expected {expected_stdout!r}")
    if args.status == 0:
        for trace in AGENT_TRACES:
            for stream, text in (("stdout", done.stdout), ("stderr", done.stderr)):
                if trace in text:
                    problems.append(f"{stream} holds {trace!r}")
    if problems:
        return fail([" ".join(command)] + problems + [f"stderr: {done.stderr!r}"])
    print(f"PASS: {' '.join(command)}")
    print(f"stdout: {done.stdout!r}")
    return 0


def check_exports(args):
    done = subprocess.run(["nm", "-D", "--defined-only", args.library], capture_output=True, text=True)
    if done.returncode != 0:
        return fail([f"nm failed: {done.stderr.strip()}"])
    symbols = sorted(line.split()[-1] for line in done.stdout.splitlines() if line.strip())
    if symbols != sorted(args.symbols):
        return fail([f"exported {symbols}, expected {sorted(args.symbols)}"])
    print(f"PASS: exports {symbols}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser("run")
    run.add_argument("--jdk", required=True)
    run.add_argument("--agent", required=True)
    run.add_argument("--agent-options")
    run.add_argument("--classpath")
    run.add_argument("--status", type=int, required=True)
    expected = run.add_mutually_exclusive_group(required=True)
    expected.add_argument("--stdout")
    expected.add_argument("--stdout-file")
    run.add_argument("--timeout", type=float, default=60)
    run.add_argument("java_args", nargs="+")
    exports = commands.add_parser("exports")
    exports.add_argument("library")
    exports.add_argument("symbols", nargs="+")
    args = parser.parse_args()
    return run_case(args) if args.command == "run" else check_exports(args)


if __name__ == "__main__":
    sys.exit(main())
