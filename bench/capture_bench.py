#!/usr/bin/env python3
"""Capture benchmark under a private Xvfb + openbox:
- CPU time (utime + stime) of the idle program over 60 s with capture on, with an empty clipboard
  and with another client holding a 10 MB text (which is captured once);
- the largest event-loop stall while a client that never answers owns the clipboard, measured with
  _NET_WM_PING round trips to the main window every 5 ms, next to the same without that client and to
  a Tk window next to it (on a loaded machine a round trip takes tens of milliseconds now and then
  whatever the program does: the controls show how much); the median of three rounds each; in the
  worst round trip the main thread's CPU time (0 ms: it was not busy) and how long the main thread,
  all the program's threads, the X server and this bench waited for a CPU; the largest round trip to
  the X server alone (what the server and the machine add to any round trip); and the client's CPU
  time over the round;
- capture latency from xclip taking the clipboard to slot 1 being repainted (median and p90 of 20);
- resident memory when another client offers a 50 MB text: idle, after the capture, and the peak.
Figures to read, not a test: it always exits 0 unless something could not run. Arguments pick parts
(idle, stall, latency, memory); none runs them all."""
import ctypes
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
from fixture import Desktop, HungOwner, TkTarget, Varnel, poll, TWIPS_PER_PIXEL  # noqa: E402
import fixture  # noqa: E402
import xlib  # noqa: E402

TICKS = os.sysconf('SC_CLK_TCK')


def cpu_seconds(pid):
    with open(f'/proc/{pid}/stat') as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class X(xlib.Connection):
    def __init__(self, display_name):
        super().__init__(display_name)
        self.protocols = self.atom('WM_PROTOCOLS')
        self.ping = self.atom('_NET_WM_PING')
        self.clipboard = self.atom('CLIPBOARD')
        # The ping replies are sent to the root with StructureNotify or SubstructureNotify.
        self.x.XSelectInput(self.d, self.root, xlib.STRUCTURE_NOTIFY_MASK | xlib.SUBSTRUCTURE_NOTIFY_MASK)

    def ping_round_trip(self, window, serial, timeout=5.0):
        event = xlib.XEvent(type=xlib.CLIENT_MESSAGE, window=window, message_type=self.protocols, format=32)
        event.l[0], event.l[1], event.l[2] = self.ping, serial, window
        start = time.monotonic()
        self.x.XSendEvent(self.d, window, 0, 0, ctypes.byref(event))
        self.x.XFlush(self.d)
        reply = xlib.XEvent()
        while time.monotonic() - start < timeout:
            while self.x.XPending(self.d):
                self.x.XNextEvent(self.d, ctypes.byref(reply))
                if reply.type == xlib.CLIENT_MESSAGE and reply.l[0] == self.ping and reply.l[1] == serial:
                    return time.monotonic() - start
            time.sleep(0.0005)
        return timeout


def idle_cpu(desktop, seconds, clipboard_text=None):
    owner = desktop.set_clipboard(clipboard_text) if clipboard_text is not None else None
    if owner:
        poll(lambda: desktop.clipboard_timestamp() is not None, timeout=30, what='xclip')
    varnel = Varnel(desktop)
    start_cpu = cpu_seconds(varnel.process.pid)
    time.sleep(seconds)
    used = cpu_seconds(varnel.process.pid) - start_cpu
    varnel.process.terminate()
    varnel.process.wait()
    if owner:
        owner.kill()
    return used, start_cpu


def thread_cpu_seconds(pid):
    with open(f'/proc/{pid}/task/{pid}/stat') as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def run_queue_seconds(pid, thread=None):
    """How long a thread (or all threads of the process) waited for a CPU while ready to run."""
    tasks = [thread] if thread else os.listdir(f'/proc/{pid}/task')
    waited = 0
    for task in tasks:
        try:
            with open(f'/proc/{pid}/task/{task}/schedstat') as f:
                waited += int(f.read().split()[1])
        except OSError:
            pass  # a thread that ended
    return waited / 1e9


def server_round_trip(x):
    start = time.monotonic()
    x.x.XSync(x.d, 0)
    return time.monotonic() - start


def event_loop_stall(desktop, x, hung_owner, client=Varnel):
    """The largest and the 99th-percentile ping round trip to the client's window over about 3 s; during
    the largest, the main thread's CPU time and its wait for a CPU; and the largest round trip to the X
    server alone (made right after each ping: what the server and this process add to any round trip)."""
    varnel = client(desktop)
    pid = varnel.process.pid
    hung = HungOwner(desktop) if hung_owner else None
    server = desktop.xvfb.pid
    trips, server_trips = [], []
    round_cpu = cpu_seconds(pid)
    for serial in range(1, 601):
        cpu = thread_cpu_seconds(pid)
        waits = (run_queue_seconds(pid, pid), run_queue_seconds(pid), run_queue_seconds(server),
                 run_queue_seconds(os.getpid()))
        trip = x.ping_round_trip(varnel.window, serial)
        waited = (run_queue_seconds(pid, pid), run_queue_seconds(pid), run_queue_seconds(server),
                  run_queue_seconds(os.getpid()))
        trips.append((trip, thread_cpu_seconds(pid) - cpu, *(after - before for before, after in zip(waits, waited))))
        server_trips.append(server_round_trip(x))
        time.sleep(0.005)
    round_cpu = cpu_seconds(pid) - round_cpu
    if hung:
        hung.close()
    varnel.process.terminate()
    varnel.process.wait()
    trips.sort()
    return (trips[-1][0], trips[int(0.99 * len(trips)) - 1][0], *trips[-1][1:], max(server_trips), round_cpu)


def memory_kib(pid, field):
    with open(f'/proc/{pid}/status') as f:
        for line in f:
            if line.startswith(field + ':'):
                return int(line.split()[1])
    return 0


def huge_text_memory(desktop, x, utf8_bytes, unit):
    """Resident memory of the program around the capture of a text of about utf8_bytes."""
    text = unit * (utf8_bytes // len(unit.encode()) + 1)
    text = text[:len(text) * utf8_bytes // len(text.encode())]
    utf16_mb = len(text.encode('utf-16-le')) / 1e6
    varnel = Varnel(desktop)
    pid = varnel.process.pid
    time.sleep(1.0)
    idle = memory_kib(pid, 'VmRSS') / 1024
    before_owner = x.x.XGetSelectionOwner(x.d, x.clipboard)
    owner = desktop.set_clipboard(text)
    poll(lambda: x.x.XGetSelectionOwner(x.d, x.clipboard) != before_owner, timeout=60, what='xclip')
    started = time.monotonic()
    # Captured when the program's copy of slot 1 is the text; read back without disturbing it: wait until
    # the resident size has settled.
    last, stable_since = 0, time.monotonic()
    while time.monotonic() - stable_since < 2.0 and time.monotonic() - started < 120:
        now = memory_kib(pid, 'VmRSS')
        if abs(now - last) > 1024:
            last, stable_since = now, time.monotonic()
        time.sleep(0.05)
    after = memory_kib(pid, 'VmRSS') / 1024
    peak = memory_kib(pid, 'VmHWM') / 1024
    owner.kill()
    varnel.process.terminate()
    varnel.process.wait()
    print(f'{len(text.encode()) / 1e6:.0f} MB text ({utf16_mb:.0f} MB in UTF-16) from another client: resident '
          f'{idle:.0f} MB idle, {after:.0f} MB after the capture, peak {peak:.0f} MB; peak above idle '
          f'{(peak - idle) / utf16_mb:.2f} x the UTF-16 size')


def main():
    fixture.varnel_binary()
    parts = set(sys.argv[1:]) or {'idle', 'stall', 'latency', 'memory'}
    desktop = Desktop()
    try:
        run_parts(desktop, parts)
    finally:
        desktop.close()


def run_parts(desktop, parts):
    if 'idle' in parts:
        used, _ = idle_cpu(desktop, 60)
        print(f'idle CPU over 60 s, empty clipboard: {used:.3f} s')
        big = ('あいうえお漢字テキスト ' * 800_000)[:3_500_000]  # ~10 MB in UTF-8
        used, start = idle_cpu(desktop, 60, big)
        print(f'idle CPU over 60 s, another client holding a {len(big.encode()) / 1e6:.1f} MB text: {used:.3f} s '
              f'(start-up and taking in the text: {start:.2f} s)')

    x = X(desktop.display)
    if 'memory' in parts:
        huge_text_memory(desktop, x, 50_000_000, 'あいうえお漢字テキスト ')
        huge_text_memory(desktop, x, 50_000_000, 'plain ASCII text, ')
    if 'stall' in parts:
        # Controls: the program without the hung owner, and another program's event loop (a Tk window,
        # which answers pings too) next to the hung owner.
        cases = {'with a hung clipboard owner': (True, Varnel), 'without (control)': (False, Varnel),
                 'of a Tk window next to the hung owner (control)': (True, TkTarget)}
        rounds = {label: [] for label in cases}
        for _ in range(3):
            for label, (hung_owner, client) in cases.items():
                rounds[label].append(event_loop_stall(desktop, x, hung_owner, client))
        for label in cases:
            worst = statistics.median(r[0] for r in rounds[label])
            p99 = statistics.median(r[1] for r in rounds[label])
            busy, main_wait, program_wait, server_wait, bench_wait, server, round_cpu = (
                statistics.median(r[i] for r in rounds[label]) for i in range(2, 9))
            print(f'largest event-loop stall (ping round trip) {label}: {worst * 1000:.1f} ms, '
                  f'p99 {p99 * 1000:.1f} ms; in the worst: main thread CPU {busy * 1000:.0f} ms, waits for a '
                  f'CPU: main thread {main_wait * 1000:.1f} ms, all its threads {program_wait * 1000:.1f} ms, '
                  f'X server {server_wait * 1000:.1f} ms, this bench {bench_wait * 1000:.1f} ms; largest round '
                  f'trip to the X server alone {server * 1000:.1f} ms; the client\'s CPU over the round '
                  f'{round_cpu * 1000:.0f} ms (medians of 3 rounds of 600; load average '
                  f'{os.getloadavg()[0]:.2f})')
    if 'latency' in parts:
        varnel = Varnel(desktop)
        cx, cy, _, _ = desktop.geometry(varnel.window)
        area = (cx + 960 // TWIPS_PER_PIXEL, cy + 600 // TWIPS_PER_PIXEL, 2655 // TWIPS_PER_PIXEL,
                375 // TWIPS_PER_PIXEL)
        latencies = []
        for n in range(20):
            before_owner = x.x.XGetSelectionOwner(x.d, x.clipboard)
            before = x.region(*area)
            owner = desktop.set_clipboard(f'latency sample {n} テキスト')
            while x.x.XGetSelectionOwner(x.d, x.clipboard) == before_owner:
                time.sleep(0.0005)
            taken = time.monotonic()
            while x.region(*area) == before and time.monotonic() - taken < 5:
                time.sleep(0.002)
            latencies.append((time.monotonic() - taken) * 1000)
            time.sleep(0.3)
            owner.kill()
        latencies.sort()
        print(f'capture latency, xclip to slot 1 repainted: median {statistics.median(latencies):.0f} ms, '
              f'p90 {latencies[int(0.9 * len(latencies)) - 1]:.0f} ms, max {latencies[-1]:.0f} ms (20 samples)')


if __name__ == '__main__':
    main()
