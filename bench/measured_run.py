#!/usr/bin/env python3
"""Runs a command and writes "WALL_NS USER_S SYS_S MAXRSS_KIB" of it to OUTPUT.

    bench/measured_run.py OUTPUT COMMAND [ARG...]

The command keeps this process's standard streams and its exit code is this one's. Wall time is
taken around the child alone, so the interpreter's own start is not counted; CPU time is the
child's user and system time with its waited-for descendants (wait4), in microseconds, where
time(1) rounds to hundredths of a second: a run of small files takes only tens of milliseconds of
the reference uploader's CPU.
"""
import os
import subprocess
import sys
import time

output, command = sys.argv[1], sys.argv[2:]
start = time.perf_counter_ns()
child = subprocess.Popen(command)
_, status, usage = os.wait4(child.pid, 0)
wall = time.perf_counter_ns() - start
child.returncode = os.waitstatus_to_exitcode(status)   # reaped here: Popen must not wait again
with open(output, "w") as f:
    f.write(f"{wall} {usage.ru_utime:.6f} {usage.ru_stime:.6f} {usage.ru_maxrss}\n")
code = child.returncode
sys.exit(code if code >= 0 else 128 - code)
