#!/usr/bin/env python3
"""Click-to-text under Wine: varnel.exe sends slot 1 into Wine's notepad, by paste and by keystrokes.
One wintool process clicks the send button and reads notepad's text box every millisecond, so each
figure runs from the click to the whole text being in notepad (the program's share plus Wine's and
notepad's), without the start-up of a driver process.

Runs in a Wine prefix with a display, as scripts/test-windows-e2e.sh prepares one (WINEPREFIX,
DISPLAY and a virtual desktop), with VARNEL_WINE_BUILD naming the Windows build folder:

    python3 bench/win32/notepad_delivery_bench.py [runs]      (default 20 runs)"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tests', 'wine'))
from fixture import MAIN_CLASS, WinTool, build_file, control_ids, enc, figure, poll, spread, windows_path  # noqa: E402

SLOT_TEXT = 'paste latency ひらがな漢字ｶﾀｶﾅ'


def start_notepad(tool):
    process = subprocess.Popen(['wine', 'notepad'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    window = poll(lambda: tool.find(cls='Notepad'), timeout=60, what='notepad')[0]
    edit = next(c.hwnd for c in tool.children(window.hwnd) if c.cls.lower() == 'edit')
    return process, window.hwnd, edit


def measure(tool, runs, main, button, notepad, edit):
    samples = []
    for _ in range(runs):
        tool.set_text(edit, '')
        tool.activate(notepad)
        # The program takes the foreground window as its target at its next tick (every 200 ms).
        poll(lambda: tool.prop(main, 'VarnelTargetWindow') == notepad, timeout=5, what='notepad as the target')
        samples.append(float(tool.out('clickuntil', button, edit, enc(SLOT_TEXT), 10000)) / 1000)
    return samples


def choose_keystrokes(tool, ids, main):
    settings = next(c.hwnd for c in tool.children(main) if c.id == ids['SettingsButton'])
    tool.mouse(settings, 'left')
    dialog = poll(lambda: tool.find('Varnelの詳細設定'), what='the settings dialog')[0].hwnd
    controls = {c.id: c.hwnd for c in tool.children(dialog)}
    tool.click(controls[ids['SendModeOption'] + 1])
    tool.click(controls[ids['SettingsOk']])
    poll(lambda: not tool.find('Varnelの詳細設定'), what='the settings dialog to close')


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    tool = WinTool()
    ids = control_ids()
    folder = tempfile.TemporaryDirectory(prefix='varnel-bench-')
    slots = os.path.join(folder.name, 'slots.txt')
    with open(slots, 'wb') as f:
        f.write(f'[text01]\r\n{SLOT_TEXT}\r\n[end]\r\n'.encode('utf-8'))
    notepad_process, notepad, edit = start_notepad(tool)
    varnel = subprocess.Popen(['wine', build_file('app', 'win32', 'varnel.exe'), windows_path(slots)],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    main_window = None
    try:
        main_window = poll(lambda: tool.find('Varnel', MAIN_CLASS), timeout=60, what='the main window')[0].hwnd
        button = next(c.hwnd for c in tool.children(main_window) if c.id == ids['SendButton'] + 1)
        figure(f'notepad, paste: click to text {spread(measure(tool, runs, main_window, button, notepad, edit))}')
        choose_keystrokes(tool, ids, main_window)
        figure(f'notepad, keystrokes: click to text '
               f'{spread(measure(tool, runs, main_window, button, notepad, edit))}')
    finally:
        # Closed as a user closes them (notepad's text is emptied first: it asks nothing then).
        tool.set_text(edit, '')
        for process, window in ((varnel, main_window), (notepad_process, notepad)):
            if window is not None:
                tool.close(window)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        folder.cleanup()

if __name__ == '__main__':
    main()
