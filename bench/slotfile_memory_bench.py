#!/usr/bin/env python3
"""Huge slot files under a private Xvfb + openbox. For a 250 MB file (VARNEL_BENCH_SLOTFILE_MB sets the
size): ASCII log lines in one slot, Shift-JIS Japanese spread over all ten slots, and lines of one
character in one slot:
- the program's peak resident memory while it loads the file, and its resident memory once the window
  shows, against the file size and against an idle program without a file;
- the largest event-loop stall (_NET_WM_PING round trips every 5 ms) while the edit dialog opens on
  slot 1, the resident memory with the dialog open, and the same once Ｏ Ｋ has closed it.
Figures to read, not a test: it always exits 0 unless something could not run."""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
from fixture import Desktop, Varnel, poll, TWIPS_PER_PIXEL  # noqa: E402
import fixture  # noqa: E402
from capture_bench import X  # noqa: E402

MIB = 1024 * 1024


def status_kib(pid, field):
    with open(f'/proc/{pid}/status') as f:
        for line in f:
            if line.startswith(field + ':'):
                return int(line.split()[1])
    return 0


def write_file(path, size, kind):
    if kind == 'one-character lines':
        sections = [(1, b'a\r\n')]
    elif kind == 'ascii':
        line = b'2026-12-07 14:03:11 INFO worker 7: request served in 12 ms, status ok, bytes 5120\r\n'
        sections = [(1, line)]
    else:
        line = ('お世話になっております。ソフト開発部の表です、会議は１０時からです。\r\n').encode('cp932')
        sections = [(n, line) for n in range(1, 11)]
    per_section = size // len(sections)
    with open(path, 'wb') as f:
        for number, text in sections:
            f.write(f'[text{number:02d}]\r\n'.encode())
            f.write(text * (per_section // len(text)))
            f.write(b'[end]\r\n')
    return os.path.getsize(path)


def settle(pid, seconds=2.0):
    """Waits until the resident memory stops changing; returns it in KiB."""
    last = -1
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        rss = status_kib(pid, 'VmRSS')
        if abs(rss - last) < 1024:
            return rss
        last = rss
        time.sleep(seconds)
    return last


def worst_stall(x, window, seconds, stop=lambda: False):
    worst = 0.0
    serial = 1
    end = time.monotonic() + seconds
    while time.monotonic() < end and not stop():
        worst = max(worst, x.ping_round_trip(window, serial, timeout=120.0))
        serial += 1
        time.sleep(0.005)
    return worst


def run(desktop, x, path, size, kind, idle_kib):
    start = time.monotonic()
    varnel = Varnel(desktop, [path])
    shown = time.monotonic() - start
    pid = varnel.process.pid
    steady = settle(pid)
    peak = status_kib(pid, 'VmHWM')
    mb = size / 1e6
    print(f'{kind} slot file of {mb:.0f} MB: loaded and shown in {shown:.1f} s; load peak {peak / 1024:.0f} MiB '
          f'= {peak * 1024 / size:.2f} x the file ({(peak - idle_kib) * 1024 / size:.2f} x above idle); '
          f'steady {steady / 1024:.0f} MiB')

    # Opening the edit dialog on slot 1 while the main window is pinged.
    worst_stall(x, varnel.window, 0.3)
    clicker = subprocess.Popen(['xdotool', 'mousemove', '--window', str(varnel.window), str((960 + 500) // TWIPS_PER_PIXEL),
                                str((600 + 187) // TWIPS_PER_PIXEL), 'click', '--repeat', '2', '--delay', '80', '1'],
                               env=desktop.env)
    opened = time.monotonic()
    found = {}

    def dialog_shown(last=[0.0]):
        if time.monotonic() - last[0] < 0.05:
            return False
        last[0] = time.monotonic()
        out = desktop.run(['xdotool', 'search', '--onlyvisible', '--name', '^テキストの編集（1）$'], check=False).split()
        if out:
            found['window'], found['after'] = int(out[0]), time.monotonic() - opened
        return bool(out)

    stall = worst_stall(x, varnel.window, 60.0, dialog_shown)
    clicker.wait()
    if 'window' not in found:
        raise RuntimeError('the edit dialog did not open')
    dialog, mapped = found['window'], found['after']
    stall = max(stall, worst_stall(x, varnel.window, 1.0))
    open_rss = settle(pid, 0.5)
    print(f'  edit dialog on slot 1: largest event-loop stall {stall * 1000:.0f} ms, mapped after {mapped * 1000:.0f} ms '
          f'(xdotool\'s double-click included); resident {open_rss / 1024:.0f} MiB while open, '
          f'peak so far {status_kib(pid, "VmHWM") / 1024:.0f} MiB')

    # Ｏ Ｋ on the unedited text hands the whole text back to the slot.
    clicker = subprocess.Popen(['xdotool', 'mousemove', '--window', str(dialog), str((480 + 787) // TWIPS_PER_PIXEL),
                                str((2760 + 247) // TWIPS_PER_PIXEL), 'click', '1'], env=desktop.env)
    gone = {}

    def dialog_closed(last=[0.0]):
        if time.monotonic() - last[0] < 0.05:
            return False
        last[0] = time.monotonic()
        if not desktop.run(['xdotool', 'search', '--onlyvisible', '--name', '^テキストの編集'], check=False).split():
            gone['yes'] = True
        return bool(gone)

    stall = worst_stall(x, varnel.window, 60.0, dialog_closed)
    clicker.wait()
    if not gone:
        raise RuntimeError('the edit dialog did not close')
    stall = max(stall, worst_stall(x, varnel.window, 1.0))
    time.sleep(2)
    closed = settle(pid, 0.5)
    print(f'  after Ｏ Ｋ: largest event-loop stall {stall * 1000:.0f} ms; resident {closed / 1024:.0f} MiB '
          f'({(closed - steady) / 1024:+.0f} MiB against steady), peak {status_kib(pid, "VmHWM") / 1024:.0f} MiB')
    varnel.process.terminate()
    varnel.process.wait(timeout=30)


def main():
    fixture.varnel_binary()
    size = int(float(os.environ.get('VARNEL_BENCH_SLOTFILE_MB', '250')) * 1e6)
    folder = tempfile.mkdtemp(prefix='varnel-bench-')
    desktop = Desktop()
    try:
        x = X(desktop.display)
        idle = Varnel(desktop)
        idle_kib = settle(idle.process.pid)
        idle.process.terminate()
        idle.process.wait(timeout=10)
        print(f'idle program without a file: resident {idle_kib / 1024:.0f} MiB')
        for kind in ('ascii', 'shift-jis', 'one-character lines'):
            path = os.path.join(folder, f'{kind}.txt')
            written = write_file(path, size, kind)
            try:
                run(desktop, x, path, written, kind, idle_kib)
            finally:
                os.remove(path)
    finally:
        desktop.close()
        os.rmdir(folder)


if __name__ == '__main__':
    main()
