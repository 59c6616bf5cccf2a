"""Starts the program named by VARNEL_BIN (the installed one, for the package check) on a private
desktop: its window must appear and it must capture a clipboard text. Prints how long the window took."""
import sys
import time

from fixture import Desktop, Varnel

TEXT = 'インストール確認 installed'


def main():
    desktop = Desktop()
    try:
        started = time.monotonic()
        varnel = Varnel(desktop)
        print(f'varnel: window up {time.monotonic() - started:.2f} s after the start')
        varnel.capture(TEXT)
        captured = varnel.slot_text(1)
    finally:
        desktop.close()  # closing the window cleanly is the end-to-end suite's business
    if captured != TEXT:
        print(f'varnel: the installed program captured {captured!r}', file=sys.stderr)
        return 1
    print('varnel: the installed program captured a text')
    return 0


if __name__ == '__main__':
    sys.exit(main())
