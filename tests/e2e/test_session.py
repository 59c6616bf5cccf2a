"""How the program meets its session: an X server that goes away, a display that is not there, a
Wayland session with XWayland."""
import os
import subprocess
import unittest

from fixture import Desktop, DesktopTestCase, Varnel, varnel_binary

RUNS = 10
LOST = 'varnel: the connection to the X server was lost; Varnel ends.'


def unused_display():
    number = 900
    while os.path.exists(f'/tmp/.X11-unix/X{number}') or os.path.exists(f'/tmp/.X{number}-lock'):
        number += 1
    return f':{number}'


class SessionEnds(unittest.TestCase):
    def test_a_killed_x_server_ends_the_program_with_status_1_and_one_line(self):
        varnel_binary()
        for run in range(RUNS):
            desktop = Desktop()
            try:
                varnel = Varnel(desktop)
                desktop.set_clipboard(f'text {run}')  # the clipboard worker is at work meanwhile
                desktop.xvfb.kill()
                status = varnel.process.wait(timeout=30)
                errors = varnel.process.stderr.read().decode(errors='replace')
            finally:
                desktop.close()
            with self.subTest(run=run):
                self.assertEqual((status, errors.splitlines()), (1, [LOST]))

    def test_without_a_usable_display_the_program_refuses_with_status_2(self):
        binary = varnel_binary()
        base = {k: v for k, v in os.environ.items()
                if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM', 'XDG_SESSION_TYPE')}
        absent = unused_display()
        cases = [({'DISPLAY': absent}, f'cannot open the X display "{absent}"')] * RUNS + [
            ({}, 'DISPLAY is not set'), ({'WAYLAND_DISPLAY': 'wayland-0'}, 'XWayland')]
        for extra, reason in cases:
            result = subprocess.run([binary], env=dict(base, **extra), capture_output=True, timeout=30)
            lines = result.stderr.decode(errors='replace').splitlines()
            with self.subTest(env=extra):
                self.assertEqual(result.returncode, 2)
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith('varnel: no display.') and reason in lines[0], lines)


class XWayland(DesktopTestCase):
    def test_a_wayland_session_runs_on_x11_and_says_so_once(self):
        self.desktop.env.update(WAYLAND_DISPLAY='wayland-varnel-test', XDG_SESSION_TYPE='wayland')
        varnel = Varnel(self.desktop)  # found on the X server, topmost through the X11 backend
        notices = self.desktop.run(['xdotool', 'search', '--all', '--sync', '--onlyvisible', '--pid',
                                    str(varnel.process.pid), '--name', 'XWayland']).split()
        self.assertEqual(len(notices), 1)
        # The fixture's search matches any visible window of the process, the notice included: close
        # the main window, the one whose name is exactly the program's.
        varnel.window = int(self.desktop.run(['xdotool', 'search', '--all', '--onlyvisible', '--pid',
                                              str(varnel.process.pid), '--name', '^Varnel$']).split()[0])
        self.assertEqual(varnel.close(), 0)


if __name__ == '__main__':
    unittest.main()
