#!/usr/bin/env python3
"""Start-up benchmark: time from exec to the main window being mapped (median of 10 runs, watched
through MapNotify events on the root window of a private Xvfb + openbox), and the resident memory of
the program 5 s after it has shown its window."""
import ctypes
import os
import select
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
from fixture import Desktop, varnel_binary  # noqa: E402
import xlib  # noqa: E402

def watch_maps(display_name):
    connection = xlib.Connection(display_name)
    connection.x.XSelectInput(connection.d, connection.root, xlib.SUBSTRUCTURE_NOTIFY_MASK)
    connection.x.XFlush(connection.d)
    return connection


def wait_for_map(connection, timeout=10.0):
    fd = connection.x.XConnectionNumber(connection.d)
    deadline = time.monotonic() + timeout
    event = xlib.XEvent()
    while time.monotonic() < deadline:
        while connection.x.XPending(connection.d):
            connection.x.XNextEvent(connection.d, ctypes.byref(event))
            if event.type == xlib.MAP_NOTIFY:
                return time.monotonic()
        select.select([fd], [], [], 0.01)
    raise TimeoutError('the window was not mapped')


def rss_mib(pid):
    with open(f'/proc/{pid}/status') as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1]) / 1024
    return 0.0


def main():
    binary = varnel_binary()
    desktop = Desktop()
    try:
        times = []
        rss = 0.0
        for run in range(10):
            connection = watch_maps(desktop.display)
            start = time.monotonic()
            process = subprocess.Popen([binary], env=desktop.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            mapped = wait_for_map(connection)
            connection.close()
            times.append((mapped - start) * 1000)
            if run == 0:
                time.sleep(5)
                rss = rss_mib(process.pid)
            process.terminate()
            process.wait(timeout=5)
        print(f'start-up to mapped window: median {statistics.median(times):.0f} ms '
              f'(min {min(times):.0f}, max {max(times):.0f}, 10 runs)')
        print(f'resident memory 5 s after start: {rss:.1f} MiB')
    finally:
        desktop.close()


if __name__ == '__main__':
    main()
