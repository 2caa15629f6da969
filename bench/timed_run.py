#!/usr/bin/env python3
"""Runs a command and appends its wall, user and system seconds and its minor
and major page faults to a file, as the command's own resource use tells them
(to the microsecond, where /usr/bin/time and the shell round to 10 ms).

    bench/timed_run.py TIMES OUT ERR COMMAND...

OUT and ERR take the command's output; the exit status is the command's.
Used by bench/floor_bench.sh.
"""
import os
import subprocess
import sys
import time


def main():
    times, out, err = sys.argv[1:4]
    with open(out, "wb") as o, open(err, "wb") as e:
        start = time.monotonic()
        child = subprocess.Popen(sys.argv[4:], stdout=o, stderr=e)
        _, status, use = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
    with open(times, "a") as t:
        t.write("%.4f %.4f %.4f %d %d\n" % (wall, use.ru_utime, use.ru_stime, use.ru_minflt,
                                            use.ru_majflt))
    code = os.waitstatus_to_exitcode(status)
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    main()
