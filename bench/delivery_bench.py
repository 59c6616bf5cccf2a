#!/usr/bin/env python3
"""Delivery benchmark under a private Xvfb + window manager (openbox unless VARNEL_WM names another):
latency from the press of a send button to the slot's text being in a Tk target, and from the press of a
conversion button to the converted text replacing the selection. The click is made with XTest from this
process, and its time taken as the press is flushed to the server, so the figures are the program's (plus
the window manager's and the target's share), not a driver's start-up. Typing rates are measured by
bench/typing_bench.sh.

    python3 bench/delivery_bench.py [runs]      (VARNEL_BIN names the program; default 20 runs)"""
import ctypes
import ctypes.util
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
import xlib  # noqa: E402
from fixture import TWIPS_PER_PIXEL, Desktop, TkTarget, Varnel, poll, write_slot_file  # noqa: E402

SLOT_TEXT = 'paste latency ひらがな'


class Clicker:
    """Clicks with XTest on a connection of its own; click() returns the time the press went out."""

    def __init__(self, display):
        self.connection = xlib.Connection(display)
        self.xtest = ctypes.CDLL(ctypes.util.find_library('Xtst'))
        self.xtest.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                    ctypes.c_ulong]
        self.xtest.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

    def click(self, x, y):
        c = self.connection
        self.xtest.XTestFakeMotionEvent(c.d, -1, x, y, 0)
        c.x.XSync(c.d, 0)
        time.sleep(0.05)  # the pointer's arrival is handled before the press
        start = time.monotonic()
        self.xtest.XTestFakeButtonEvent(c.d, 1, 1, 0)
        self.xtest.XTestFakeButtonEvent(c.d, 1, 0, 0)
        c.x.XFlush(c.d)
        return start

    def close(self):
        self.connection.close()


def measure(runs, prepare, click, done):
    samples = []
    for _ in range(runs):
        prepare()
        time.sleep(0.3)
        start = click()
        poll(done, timeout=10, interval=0.001, what='the delivery')
        samples.append((time.monotonic() - start) * 1000)
    return samples


def report(what, samples):
    samples = sorted(samples)
    print(f'{what}: median {statistics.median(samples):.0f} ms (min {samples[0]:.0f}, max {samples[-1]:.0f}, '
          f'{len(samples)} runs)', flush=True)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    desktop = Desktop()
    clicker = None
    try:
        path = os.path.join(tempfile.mkdtemp(prefix='varnel-bench-'), 'slots.txt')
        write_slot_file(path, {1: [SLOT_TEXT]})
        varnel = Varnel(desktop, [path])
        target = TkTarget(desktop)
        target.activate()
        varnel.wait_for_target(target.window)
        clicker = Clicker(desktop.display)
        left, top, _, _ = desktop.geometry(varnel.window)

        def click_twips(x, y):
            return lambda: clicker.click(left + x // TWIPS_PER_PIXEL, top + y // TWIPS_PER_PIXEL)

        report('send (paste), press to text in the target',
               measure(runs, lambda: target.set_text(''), click_twips(480 + 187, Varnel.row_top(1) + 187),
                       lambda: target.text() == SLOT_TEXT))

        def select_lower_case():
            target.set_text('abc def')
            target.select_all()

        report('conversion (upper case), press to converted text in the target',
               measure(runs, select_lower_case, click_twips(960 + 360 * 4 + 187, 70 + 187),
                       lambda: target.text() == 'ABC DEF'))
    finally:
        if clicker is not None:
            clicker.close()
        desktop.close()


if __name__ == '__main__':
    main()
