#!/usr/bin/env python3
"""Delivery benchmark under a private Xvfb + openbox: paste latency from the click on a send button to
the text being in a Tk target (median of 20). Typing rates are measured by bench/typing_bench.sh."""
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
from fixture import Desktop, TkTarget, Varnel, poll, write_slot_file  # noqa: E402


def main():
    desktop = Desktop()
    try:
        path = os.path.join(tempfile.mkdtemp(prefix='varnel-bench-'), 'slots.txt')
        write_slot_file(path, {1: ['paste latency ひらがな']})
        varnel = Varnel(desktop, [path])
        target = TkTarget(desktop)
        target.activate()
        time.sleep(0.5)
        samples = []
        for _ in range(20):
            target.set_text('')
            start = time.monotonic()
            varnel.click_send(1)
            poll(lambda: target.text() == 'paste latency ひらがな', timeout=10, interval=0.001, what='the paste')
            samples.append((time.monotonic() - start) * 1000)
            time.sleep(0.3)
        samples.sort()
        print(f'paste latency, click to text in the target: median {statistics.median(samples):.0f} ms '
              f'(min {samples[0]:.0f}, max {samples[-1]:.0f}, 20 runs)')
    finally:
        desktop.close()


if __name__ == '__main__':
    main()
