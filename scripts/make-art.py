#!/usr/bin/env python3
"""Draws Varnel's button pictures and window icons as 16-colour XPM files in resources/, and the
desktop icon (an SVG and PNGs of 16 to 256 pixels) in resources/icons/.

The art is ours: simple shapes on the light grey face colour (192, 192, 192). Run it again after
changing a drawing; the XPM files are what the program uses, the icons are what gets installed.
In the desktop icon the face colour is transparent; the small sizes use the small window icons.
"""
import os
import struct
import zlib

PALETTE = {
    '.': '#C0C0C0',  # button face grey, the background
    'k': '#000000', 'w': '#FFFFFF', 'g': '#808080', 'y': '#FFFF00', 'Y': '#808000',
    'b': '#0000FF', 'n': '#000080', 'r': '#FF0000', 'R': '#800000', 'o': '#808000',
    'c': '#00FFFF', 'G': '#008000', 'm': '#800080', 'l': '#C0C0C0', 'd': '#404040',
}


class Canvas:
    def __init__(self, size, fill='.'):
        self.size = size
        self.px = [[fill] * size for _ in range(size)]

    def set(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, fill=None, edge=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                on_edge = x in (x0, x1) or y in (y0, y1)
                if on_edge and edge:
                    self.set(x, y, edge)
                elif fill:
                    self.set(x, y, fill)

    def hline(self, x0, x1, y, c):
        for x in range(x0, x1 + 1):
            self.set(x, y, c)

    def vline(self, x, y0, y1, c):
        for y in range(y0, y1 + 1):
            self.set(x, y, c)

    def xpm(self, name):
        used = sorted({c for row in self.px for c in row})
        lines = [f'"{self.size} {self.size} {len(used)} 1",']
        lines += [f'"{c} c {PALETTE[c]}",' for c in used]
        lines += [f'"{"".join(row)}",' for row in self.px]
        lines[-1] = lines[-1].rstrip(',')
        return '/* XPM */\nstatic const char* ' + name + '[] = {\n' + '\n'.join(lines) + '\n};\n'


def chequered(cv, x0, y0, x1, y1):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            cv.set(x, y, 'y' if (x + y) % 2 == 0 else 'w')
    cv.rect(x0, y0, x1, y1, edge='k')


def grey_square(cv, x0, y0, x1, y1):
    cv.rect(x0, y0, x1, y1, fill='g', edge='k')


def zorder(front):
    cv = Canvas(24)
    if front:
        grey_square(cv, 2, 2, 12, 12)
        grey_square(cv, 6, 6, 16, 16)
        chequered(cv, 10, 10, 21, 21)
    else:
        chequered(cv, 10, 10, 21, 21)
        grey_square(cv, 2, 2, 12, 12)
        grey_square(cv, 6, 6, 16, 16)
    return cv


def document(cv, x0, y0, x1, y1, edge):
    cv.rect(x0, y0, x1, y1, fill='w', edge=edge)
    for y in range(y0 + 3, y1 - 1, 2):
        cv.hline(x0 + 2, x1 - 2, y, 'g')


def copy_picture():
    cv = Canvas(24)
    document(cv, 2, 2, 13, 16, 'k')
    document(cv, 9, 7, 21, 21, 'b')
    return cv


def send_picture():
    cv = Canvas(24)
    cv.rect(2, 3, 16, 21, fill='o', edge='k')          # olive board
    cv.rect(6, 1, 12, 4, fill='y', edge='k')           # yellow clip
    cv.rect(4, 6, 14, 19, fill='w', edge='g')          # paper on the board
    document(cv, 11, 11, 21, 22, 'b')                  # blue-bordered document in front
    return cv


def settings_picture():
    cv = Canvas(24)
    cv.rect(1, 5, 16, 22, fill='w', edge='k')          # white sheet
    for y in (9, 13, 17):                              # small table
        cv.hline(3, 14, y, 'k')
    cv.vline(7, 9, 17, 'k')
    cv.vline(11, 9, 17, 'k')
    for i in range(9):                                 # dark half-toned shape from the upper right
        for j in range(3):
            x, y = 22 - i + j, 1 + i + j
            if (x + y) % 2 == 0:
                cv.set(x, y, 'd')
            else:
                cv.set(x, y, 'k')
    cv.rect(11, 9, 15, 12, fill='n', edge='n')         # navy band at its end
    return cv


def icon_clipboard():
    cv = Canvas(32)
    cv.rect(4, 4, 27, 30, fill='o', edge='k')
    cv.rect(11, 1, 20, 6, fill='y', edge='k')
    cv.rect(7, 8, 24, 28, fill='w', edge='g')
    for y in range(11, 27, 3):
        cv.hline(9, 22, y, 'b')
    return cv


def icon_sheet(size):
    cv = Canvas(size)
    s = size
    fold = s // 4
    right, bottom = s - 3, s - 2
    cv.rect(2, 1, right, bottom, fill='w', edge='k')
    for i in range(fold):                              # folded corner
        for j in range(fold - i):
            cv.set(right - j, 1 + i, '.')
        cv.set(right - fold + i, 1 + i, 'k')
    cv.hline(right - fold, right, 1 + fold, 'k')
    cv.vline(right - fold, 1, 1 + fold, 'k')
    for y in range(5 if s > 16 else 4, bottom - 1, 3 if s > 16 else 2):
        cv.hline(4, right - 2, y, 'b')
    for i in range(s // 2):                            # red paper clip across the sheet
        cv.set(1 + i, s // 2 - 2 + (i // 3), 'r')
        cv.set(1 + i, s // 2 - 1 + (i // 3), 'R')
    return cv


def rgba(c):
    if c == '.':
        return (0, 0, 0, 0)
    h = PALETTE[c]
    return (int(h[1:3], 16), int(h[3:5], 16), int(h[5:7], 16), 255)


def scaled(cv, size, samples=4):
    """The canvas at another size: each pixel averages samples x samples points of the original,
    so whole multiples stay crisp. Colours are averaged with their opacity."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    u = int((x + (sx + 0.5) / samples) * cv.size / size)
                    v = int((y + (sy + 0.5) / samples) * cv.size / size)
                    r, g, b, a = rgba(cv.px[v][u])
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3]
            row.append((0, 0, 0, 0) if alpha == 0 else
                       (round(acc[0] / alpha), round(acc[1] / alpha), round(acc[2] / alpha), round(alpha / n)))
        rows.append(row)
    return rows


def png(rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b''.join(b'\0' + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack('>IIBBBBB', len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) +
            chunk(b'IEND', b''))


def svg(cv):
    """The canvas as vector art: one rectangle per run of equal colour in a row."""
    shapes = []
    for y, row in enumerate(cv.px):
        x = 0
        while x < cv.size:
            end = x
            while end + 1 < cv.size and row[end + 1] == row[x]:
                end += 1
            if row[x] != '.':
                shapes.append(f'<rect x="{x}" y="{y}" width="{end - x + 1}" height="1" fill="{PALETTE[row[x]]}"/>')
            x = end + 1
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{cv.size}" height="{cv.size}" '
            f'viewBox="0 0 {cv.size} {cv.size}" shape-rendering="crispEdges">\n<title>Varnel</title>\n' +
            '\n'.join(shapes) + '\n</svg>\n')


def desktop_icons(out, small, large):
    """The installed icon: the small drawings where one exists at that size, else the large one."""
    icons = os.path.join(out, 'icons')
    os.makedirs(icons, exist_ok=True)
    with open(os.path.join(icons, 'varnel.svg'), 'w') as f:
        f.write(svg(large))
    for size in (16, 24, 32, 48, 64, 128, 256):
        with open(os.path.join(icons, f'varnel-{size}.png'), 'wb') as f:
            f.write(png(scaled(small.get(size, large), size)))


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources')
    pictures = {
        'zorder_front': zorder(True), 'zorder_back': zorder(False), 'copy': copy_picture(),
        'send': send_picture(), 'settings': settings_picture(), 'icon32': icon_clipboard(),
        'icon24': icon_sheet(24), 'icon16': icon_sheet(16),
    }
    for name, canvas in pictures.items():
        with open(os.path.join(out, name + '.xpm'), 'w') as f:
            f.write(canvas.xpm(name))
    desktop_icons(out, {16: pictures['icon16'], 24: pictures['icon24']}, pictures['icon32'])


if __name__ == '__main__':
    main()
