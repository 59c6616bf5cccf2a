#!/usr/bin/env python3
"""Takes the pictures shown in the README and the AppStream metadata: Varnel under a private Xvfb +
openbox with sample slots, its main window, a slot's menu, the edit dialog and the settings dialog,
written as docs/screenshot-*.png. Run it again whenever the layout changes.

    VARNEL_BIN=build/app/varnel scripts/screenshots.py     (the default is build/app/varnel)

It needs what ./scripts/test.sh installs (Xvfb, openbox, xdotool, xclip, x11-utils) and a Japanese
font (fonts-ipafont-gothic), and touches no display of yours.
"""
import ctypes
import importlib.util
import os
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
os.environ.setdefault('VARNEL_BIN', os.path.join(ROOT, 'build', 'app', 'varnel'))

import xlib  # noqa: E402
from fixture import Desktop, Varnel, TWIPS_PER_PIXEL, poll, write_slot_file  # noqa: E402

_art = importlib.util.spec_from_file_location('make_art', os.path.join(ROOT, 'scripts', 'make-art.py'))
make_art = importlib.util.module_from_spec(_art)
_art.loader.exec_module(make_art)

SAMPLE = {
    1: ['お世話になっております。'],
    2: ['株式会社ヴァーネル 営業部'],
    3: ['〒100-0001 東京都千代田区'],
    4: ['よろしくお願いいたします。'],
    5: ['ｶﾀｶﾅ と ＡＢＣ を変換'],
    6: ['Meeting notes, 10:00'],
}
BACKGROUND = 0x5A7D9A
MARGIN = 12


def set_background(display):
    """A plain desktop colour instead of the server's black."""
    c = xlib.Connection(display)
    try:
        x = c.x
        x.XSetWindowBackground.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
        x.XClearWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XSetWindowBackground(c.d, c.root, BACKGROUND)
        x.XClearWindow(c.d, c.root)
        x.XSync(c.d, 0)
    finally:
        c.close()


def frame_rect(desktop, window):
    """The window with the manager's frame, as (x, y, width, height) on the screen."""
    x, y, width, height = desktop.geometry(window)
    left, right, top, bottom = desktop.frame_extents(window)
    return x - left, y - top, width + left + right, height + top + bottom


def union(*rects):
    x0 = min(r[0] for r in rects)
    y0 = min(r[1] for r in rects)
    x1 = max(r[0] + r[2] for r in rects)
    y1 = max(r[1] + r[3] for r in rects)
    return x0, y0, x1 - x0, y1 - y0


def shoot(desktop, rect, name):
    """Writes a screen rectangle, with a margin of background, to docs/<name>."""
    x, y, width, height = rect
    x, y, width, height = max(0, x - MARGIN), max(0, y - MARGIN), width + 2 * MARGIN, height + 2 * MARGIN
    time.sleep(0.5)  # let the last repaint reach the screen
    c = xlib.Connection(desktop.display)
    try:
        image = c.x.XGetImage(c.d, c.root, x, y, width, height, xlib.ALL_PLANES, xlib.Z_PIXMAP)
        if not image:
            raise RuntimeError(f'cannot read the screen for {name}')
        rows = []
        for j in range(height):
            row = []
            for i in range(width):
                v = c.x.XGetPixel(image, i, j)
                row.append(((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF, 255))
            rows.append(row)
    finally:
        c.close()
    path = os.path.join(ROOT, 'docs', name)
    with open(path, 'wb') as f:
        f.write(make_art.png(rows))
    print(f'{path}: {width}x{height}')


def other_windows(desktop, known):
    out = desktop.run(['xdotool', 'search', '--onlyvisible', '--class', 'varnel'], check=False)
    return [int(w) for w in out.split() if int(w) not in known]


def main():
    slots = os.path.join(tempfile.mkdtemp(prefix='varnel-shots-'), 'slots.txt')
    write_slot_file(slots, SAMPLE)
    desktop = Desktop(1024, 768)
    try:
        set_background(desktop.display)

        varnel = Varnel(desktop, [slots])
        main_rect = frame_rect(desktop, varnel.window)
        shoot(desktop, main_rect, 'screenshot-main.png')

        varnel.click_twips(960 + 300, 1080 + 100, button=3)  # slot 2
        menu = poll(lambda: other_windows(desktop, {varnel.window}), what='the slot menu')[0]
        shoot(desktop, union(main_rect, desktop.geometry(menu)), 'screenshot-menu.png')
        desktop.run(['xdotool', 'key', 'Escape'])
        poll(lambda: not other_windows(desktop, {varnel.window}), what='the menu to close')

        varnel.double_click_twips(960 + 500, 1080 + 187)  # slot 2
        edit = desktop.find_window('^テキストの編集（2）$')
        shoot(desktop, frame_rect(desktop, edit), 'screenshot-edit.png')
        desktop.click(edit, (2760 + 787) // TWIPS_PER_PIXEL, (2760 + 247) // TWIPS_PER_PIXEL)  # "キャンセル"
        poll(lambda: not other_windows(desktop, {varnel.window}), what='the edit dialog to close')

        varnel.click_twips(3240 + 187, 70 + 187)
        settings = desktop.find_window('^Varnelの詳細設定$')
        shoot(desktop, frame_rect(desktop, settings), 'screenshot-settings.png')
    finally:
        desktop.close()


if __name__ == '__main__':
    main()
