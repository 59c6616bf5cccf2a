"""End-to-end fixture: a private X server (Xvfb) with a window manager (openbox unless
VARNEL_E2E_WM names another), the real Varnel binary, a real Tk
target application, and the real xclip / xdotool clients. Everything is started and stopped by the
test itself. Every wait for something to happen is a poll with a time-out; the few waits of a fixed
length are deliberate (something must NOT happen meanwhile) and go through assert_stays / holds_for."""
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import xlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from polling import poll  # noqa: E402  (also for the suites, which take it from here)
TWIPS_PER_PIXEL = 15  # 96 DPI, as Xvfb and Qt run here


def wait_until(predicate, timeout=5.0, what='condition', interval=0.01):
    """Polls until predicate returns a true value and returns it; after the time-out the test fails
    with an AssertionError naming what was awaited."""
    try:
        return poll(predicate, timeout, interval, what)
    except TimeoutError as error:
        raise AssertionError(str(error)) from None


def holds_for(predicate, duration, interval=0.02):
    """Deliberately waits the whole duration, looking again and again: True when predicate held at
    every look, False at the first look where it did not."""
    deadline = time.monotonic() + duration
    while predicate():
        if time.monotonic() >= deadline:
            return True
        time.sleep(interval)
    return False


def assert_stays(predicate, duration, what):
    """For something that must NOT happen: waits the whole duration on purpose and fails as soon as
    predicate stops holding."""
    if not holds_for(predicate, duration):
        raise AssertionError(f'{what} did not hold for {duration} s')


# The window managers the tests run under, chosen by VARNEL_E2E_WM (openbox when unset).
WINDOW_MANAGERS = {
    'openbox': ['openbox', '--sm-disable'],
    'metacity': ['metacity', '--sm-disable', '--no-composite'],
    'xfwm4': ['dbus-run-session', '--', 'xfwm4', '--sm-client-disable', '--compositor=off'],
    'icewm': ['icewm'],
    'fluxbox': ['fluxbox'],
    'mutter': ['dbus-run-session', '--', 'mutter', '--x11', '--sm-disable'],
    'i3': ['i3'],
}
I3_CONFIG = """# i3 config file (v4)
font pango:monospace 8
focus_follows_mouse no
"""


def window_manager_name():
    name = os.environ.get('VARNEL_E2E_WM') or 'openbox'
    if name not in WINDOW_MANAGERS:
        raise RuntimeError(f'VARNEL_E2E_WM={name}: not one of {", ".join(WINDOW_MANAGERS)}')
    return name


def varnel_binary():
    path = os.environ.get('VARNEL_BIN')
    if not path or not os.access(path, os.X_OK):
        raise unittest.SkipTest('VARNEL_BIN does not name the built program')
    return path


class Desktop:
    """Xvfb + the window manager on a free display number."""

    def __init__(self, width=1024, height=768):
        for tool in ('Xvfb', WINDOW_MANAGERS[window_manager_name()][0], 'xdotool', 'xclip', 'xprop', 'wish'):
            if shutil.which(tool) is None:
                raise RuntimeError(f'{tool} is not installed')
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            # -noreset: an X server resets when its last client leaves and refuses connections while it
            # does; with the window manager stopped, a program started then would race the reset.
            ['Xvfb', '-displayfd', str(write_fd), '-screen', '0', f'{width}x{height}x24', '-nolisten', 'tcp',
             '-noreset'],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        if not number:
            self.xvfb.kill()
            raise RuntimeError('Xvfb did not start')
        self.display = f':{number}'
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop('QT_QPA_PLATFORM', None)
        self.env['XDG_RUNTIME_DIR'] = tempfile.mkdtemp(prefix='varnel-runtime-')
        os.chmod(self.env['XDG_RUNTIME_DIR'], 0o700)
        self.processes = []
        self.x = None  # a connection of the test's own, opened on first use
        self.wm = None
        self.wm_name = window_manager_name()
        self.wm_log = tempfile.NamedTemporaryFile(prefix=f'varnel-{self.wm_name}-', suffix='.log')
        try:
            self.start_window_manager()
        except Exception:
            self.close()
            raise

    def start_window_manager(self):
        """Starts the chosen manager with a home of its own (several write their configuration there
        on first start) and waits until it manages a window of ours."""
        home = os.path.join(self.env['XDG_RUNTIME_DIR'], 'wm-home')
        os.makedirs(home, exist_ok=True)
        command = list(WINDOW_MANAGERS[self.wm_name])
        path = os.environ.get('PATH', '')
        if self.wm_name == 'i3':
            config = os.path.join(home, 'i3.config')
            with open(config, 'w') as f:
                f.write(I3_CONFIG)
            command += ['-c', config]
        elif self.wm_name == 'fluxbox':
            # At start it sets a wallpaper through its helper fbsetbg, which, finding no wallpaper
            # setter, opens a message window (xmessage) over the middle of the screen a few seconds
            # later, where it takes the clicks meant for the windows below: a helper that does nothing
            # comes first on its path.
            tools = os.path.join(home, 'bin')
            os.makedirs(tools, exist_ok=True)
            helper = os.path.join(tools, 'fbsetbg')
            with open(helper, 'w') as f:
                f.write('#!/bin/sh\nexit 0\n')
            os.chmod(helper, 0o755)
            path = tools + os.pathsep + path
        # No accessibility bridge in the manager: a GTK manager (xfwm4, mutter) would otherwise have its
        # session bus start an accessibility bus of its own and name it on the root window (AT_SPI_BUS),
        # racing the bus that the accessibility tests start, so that the program and the screen reader's
        # side could end up on different buses.
        env = dict(self.env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, '.config'), NO_AT_BRIDGE='1',
                   GTK_A11Y='none', PATH=path)
        probe = xlib.Connection(self.display)
        try:
            # A plain window, mapped before the manager starts: it is managed once it has WM_STATE.
            window = probe.x.XCreateSimpleWindow(probe.d, probe.root, 0, 0, 10, 10, 0, 0, 0)
            probe.x.XMapWindow(probe.d, window)
            probe.x.XSync(probe.d, 0)
            for _ in range(3):
                # A session of its own, so that stopping it ends everything the manager started
                # (dbus-run-session and its bus, the manager's helpers) and nothing else.
                self.wm = subprocess.Popen(command, env=env, stdout=self.wm_log, stderr=self.wm_log,
                                           start_new_session=True)
                try:
                    poll(lambda: self.wm.poll() is not None or self.manages(window), timeout=30, interval=0.05,
                         what=f'{self.wm_name} to manage windows')
                except TimeoutError:
                    pass
                if self.wm.poll() is None and self.manages(window):
                    return
                self.stop_window_manager()
        finally:
            probe.close()  # destroys the probe window
        self.wm_log.seek(0)
        log = self.wm_log.read().decode(errors='replace')
        raise RuntimeError(f'{self.wm_name} did not start on {self.display}: {log}')

    def manages(self, window):
        """True once the manager has announced itself and has given the window WM_STATE."""
        return ('window id' in self.run(['xprop', '-root', '_NET_SUPPORTING_WM_CHECK'], check=False)
                and 'Normal' in self.run(['xprop', '-id', str(window), 'WM_STATE'], check=False))

    def stop_window_manager(self):
        if self.wm is None:
            return
        try:
            os.killpg(self.wm.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            # fluxbox often lets a SIGTERM wait for seconds: the manager is of no further use here.
            self.wm.wait(timeout=1)
        except subprocess.TimeoutExpired:
            os.killpg(self.wm.pid, signal.SIGKILL)
            self.wm.wait()
        self.wm = None

    def run(self, args, check=True, input=None, timeout=10):
        result = subprocess.run(args, env=self.env, input=input, capture_output=True, timeout=timeout)
        if check and result.returncode != 0:
            raise RuntimeError(f'{args[0]} failed: {result.stderr.decode(errors="replace")}')
        return result.stdout.decode(errors='replace')

    def start(self, args, **kwargs):
        process = subprocess.Popen(args, env=self.env, **kwargs)
        self.processes.append(process)
        return process

    def close(self):
        if self.x is not None:
            self.x.close()
        for p in reversed(self.processes):
            if p.poll() is None:
                p.kill()
            p.wait(timeout=5)
            for stream in (p.stdin, p.stdout, p.stderr):
                if stream:
                    stream.close()
        self.stop_window_manager()
        self.xvfb.terminate()
        try:
            self.xvfb.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.xvfb.kill()
            self.xvfb.wait()
        shutil.rmtree(self.env['XDG_RUNTIME_DIR'], ignore_errors=True)

    # Windows
    def find_window(self, name, pid=None, timeout=5.0):
        def search():
            args = ['xdotool', 'search', '--onlyvisible', '--name', name]
            if pid is not None:
                args[2:2] = ['--pid', str(pid)]
            out = self.run(args, check=False).split()
            return int(out[0]) if out else None
        return poll(search, timeout, what=f'a window named {name}')

    def number_property(self, window, name):
        """A window's 32-bit property value (a WINDOW, a CARDINAL), or None when it has none."""
        if self.x is None:
            self.x = xlib.Connection(self.display)
        return self.x.number_property(window, name)

    def root_property(self, name):
        return self.run(['xprop', '-root', name], check=False)

    def active_window(self):
        out = self.root_property('_NET_ACTIVE_WINDOW')
        # Some managers append a second value (xfwm4: "0x1400010, 0x0"); the first is the window.
        return int(out.split('#')[-1].split(',')[0].strip(), 16) if '#' in out else 0

    def stacking(self):
        out = self.root_property('_NET_CLIENT_LIST_STACKING')
        if '#' not in out:
            return []
        return [int(w.strip(), 16) for w in out.split('#')[-1].split(',')]

    def supports(self, atom):
        """True when a running window manager lists the atom in _NET_SUPPORTED (a manager that has
        gone may leave its list on the root window)."""
        if self.wm is None or self.wm.poll() is not None:
            return False
        return atom in self.root_property('_NET_SUPPORTED').replace(',', ' ').split()

    def stacked_above(self, upper, lower):
        """True when the first window shows above the second, read from the server's stacking order of
        the top-level windows that hold them (some managers' _NET_CLIENT_LIST_STACKING leaves out
        their layers)."""
        c = xlib.Connection(self.display)
        try:
            order, _ = c.children(c.root)
            tops = [c.top_level(upper), c.top_level(lower)]
            return all(tops) and order.index(tops[0]) > order.index(tops[1])
        finally:
            c.close()

    def send_to_root(self, window, message, values):
        """Sends an EWMH request about the window to the window manager."""
        c = xlib.Connection(self.display)
        try:
            event = xlib.XEvent(type=xlib.CLIENT_MESSAGE, window=window, message_type=c.atom(message), format=32)
            for i, value in enumerate(values):
                event.l[i] = value
            c.x.XSendEvent(c.d, c.root, 0, xlib.SUBSTRUCTURE_REDIRECT_MASK | xlib.SUBSTRUCTURE_NOTIFY_MASK,
                           ctypes.byref(event))
            c.x.XSync(c.d, 0)
        finally:
            c.close()

    def window_state(self, window):
        return self.run(['xprop', '-id', str(window), '_NET_WM_STATE'], check=False)

    def geometry(self, window):
        """Client position on the screen and client size, in pixels."""
        out = self.run(['xwininfo', '-id', str(window)])
        values = {}
        for line in out.splitlines():
            line = line.strip()
            for key in ('Absolute upper-left X', 'Absolute upper-left Y', 'Width', 'Height'):
                if line.startswith(key + ':'):
                    values[key] = int(line.split(':')[1])
        return (values['Absolute upper-left X'], values['Absolute upper-left Y'],
                values['Width'], values['Height'])

    def frame_extents(self, window):
        out = self.run(['xprop', '-id', str(window), '_NET_FRAME_EXTENTS'], check=False)
        if '=' in out:
            return tuple(int(v) for v in out.split('=')[1].split(','))
        # Not announced (i3): measured from the manager's frame around the window.
        c = xlib.Connection(self.display)
        try:
            frame = c.top_level(window)
        finally:
            c.close()
        x, y, width, height = self.geometry(window)
        fx, fy, fwidth, fheight = self.geometry(frame)
        return (x - fx, fx + fwidth - x - width, y - fy, fy + fheight - y - height)

    def activate(self, window):
        self.run(['xdotool', 'windowactivate', '--sync', str(window)], check=False)
        poll(lambda: self.active_window() == window, what='activation')

    def click(self, window, x, y, button=1):
        self.run(['xdotool', 'mousemove', '--window', str(window), str(x), str(y), 'click', str(button)])

    def key(self, *keys):
        self.run(['xdotool', 'key', '--clearmodifiers', *keys])

    # Clipboard
    def set_clipboard(self, text, target=None):
        """Makes xclip the owner of CLIPBOARD with the text (bytes are taken as they are)."""
        data = text.encode('utf-8') if isinstance(text, str) else text
        args = ['xclip', '-selection', 'clipboard', '-quiet']
        if target:
            args += ['-t', target]
        p = self.start(args, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        p.stdin.write(data)
        p.stdin.close()
        return p

    def clipboard_timestamp(self):
        """The time at which the current owner took CLIPBOARD (its TIMESTAMP target), or None."""
        try:
            result = subprocess.run(['xclip', '-o', '-selection', 'clipboard', '-t', 'TIMESTAMP'], env=self.env,
                                    capture_output=True, timeout=3)
        except subprocess.TimeoutExpired:
            return None
        return result.stdout if result.returncode == 0 and result.stdout else None

    def clipboard(self, selection='clipboard'):
        """The clipboard's text, or None when there is none."""
        try:
            result = subprocess.run(['xclip', '-o', '-selection', selection, '-t', 'UTF8_STRING'], env=self.env,
                                    capture_output=True, timeout=3)
        except subprocess.TimeoutExpired:
            return None  # an owner that does not answer (xclip itself waits for ever)
        return result.stdout.decode('utf-8', errors='replace') if result.returncode == 0 else None


class Varnel:
    """The real program on the desktop. Controls are found by their layout position in twips."""

    def __init__(self, desktop, args=()):
        self.desktop = desktop
        self.process = desktop.start([varnel_binary(), *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.window = desktop.find_window('^Varnel$', pid=self.process.pid, timeout=30)
        if desktop.supports('_NET_WM_STATE_ABOVE'):  # i3 has no stacking layers
            poll(lambda: '_NET_WM_STATE_ABOVE' in desktop.window_state(self.window), what='the topmost state')

    @classmethod
    def with_slot_file_notice(cls, desktop):
        """Varnel started with a slot file it cannot load, which it tells in a notice: the argument "[a]"
        is a pattern that finds the file "a", but the path opened is "[a]" itself, a FIFO. Sets
        `fifo` and `notice` (its window)."""
        folder = tempfile.mkdtemp(prefix='varnel-e2e-')
        write_slot_file(os.path.join(folder, 'a'), {1: ['hello']})
        fifo = os.path.join(folder, '[a]')
        os.mkfifo(fifo)
        varnel = cls(desktop, [fifo])
        varnel.fifo = fifo
        # The main window is the one Varnel shows its state on (a window search by title alone can take
        # one for the other while their titles are being set); the notice is its other titled window.
        def windows():
            found = desktop.run(['xdotool', 'search', '--onlyvisible', '--pid', str(varnel.process.pid),
                                 '--name', '^Varnel'], check=False).split()
            main = [int(w) for w in found if desktop.number_property(int(w), '_VARNEL_TARGET_WINDOW') is not None]
            others = [int(w) for w in found if main and int(w) != main[0]]
            return (main[0], others[0]) if main and others else None
        varnel.window, varnel.notice = poll(windows, what='the main window and the notice')
        return varnel

    # What Varnel shows of its state on its window.
    def target(self):
        """The window a send would go to now (0 for none; None before Varnel's first tick)."""
        return self.desktop.number_property(self.window, '_VARNEL_TARGET_WINDOW')

    def wait_for_target(self, window, timeout=5.0):
        wait_until(lambda: self.target() == window, timeout, f'Varnel to take window {window:#x} as its target')

    def captured_texts(self):
        """How many clipboard texts Varnel has captured into slots since it started."""
        return self.desktop.number_property(self.window, '_VARNEL_CAPTURED_TEXTS') or 0

    def capture(self, text, timeout=5.0):
        """Puts the text on the clipboard (xclip owns it) and waits until Varnel has captured it into a
        slot; returns the owner."""
        before = self.captured_texts()
        owner = self.desktop.set_clipboard(text)
        wait_until(lambda: self.captured_texts() > before, timeout, f'the capture of {text[:40]!r}')
        return owner

    def assert_captures_nothing(self, duration=0.6):
        """Deliberately waits three ticks' time, in which Varnel must capture nothing."""
        before = self.captured_texts()
        assert_stays(lambda: self.captured_texts() == before, duration, 'no capture')

    def click_twips(self, x, y, button=1):
        self.desktop.click(self.window, x // TWIPS_PER_PIXEL, y // TWIPS_PER_PIXEL, button)

    @staticmethod
    def row_top(i):
        return 120 + 480 * i

    def click_copy(self, i):
        self.click_twips(120 + 187, self.row_top(i) + 187)

    def click_send(self, i):
        self.click_twips(480 + 187, self.row_top(i) + 187)

    def click_conversion(self, index):
        self.click_twips(960 + 360 * index + 187, 70 + 187)

    def slot_text(self, i, timeout=5.0):
        """A slot's text, read back through its copy button: the copy makes Varnel the clipboard's
        owner anew, which shows in the clipboard's TIMESTAMP; then the text is read."""
        before = self.desktop.clipboard_timestamp()
        self.click_copy(i)
        poll(lambda: (lambda t: t is not None and t != before)(self.desktop.clipboard_timestamp()), timeout,
             what=f'the copy of slot {i}')
        return self.desktop.clipboard()

    def double_click_twips(self, x, y):
        self.desktop.run(['xdotool', 'mousemove', '--window', str(self.window), str(x // TWIPS_PER_PIXEL),
                          str(y // TWIPS_PER_PIXEL), 'click', '--repeat', '2', '--delay', '80', '1'])

    def client_size(self):
        _, _, width, height = self.desktop.geometry(self.window)
        return width, height

    def close(self, timeout=5.0):
        """Closes the window through the window manager, as its close box does, and returns the exit
        status. (Alt+F4 from XTest is lost now and then under mutter.)"""
        self.desktop.activate(self.window)
        self.desktop.send_to_root(self.window, '_NET_CLOSE_WINDOW', [0, 2])
        return self.process.wait(timeout=timeout)


class TkTarget:
    """A Tk text widget in its own top-level window, driven over its standard input."""

    def __init__(self, desktop, title='Varnel target'):
        self.desktop = desktop
        self.process = desktop.start(['wish', os.path.join(HERE, 'target.tcl'), title],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.window = desktop.find_window(f'^{title}$', pid=self.process.pid, timeout=30)

    def command(self, line):
        self.process.stdin.write((line + '\n').encode())
        self.process.stdin.flush()
        return self.process.stdout.readline().decode().strip()

    def text(self):
        return bytes.fromhex(self.command('dump')).decode('utf-8')

    def set_text(self, text):
        self.command('set ' + text.encode('utf-8').hex())

    def select_all(self):
        self.command('selectall')

    def activate(self):
        self.desktop.activate(self.window)
        self.command('focus')

    def wait_for_text(self, expected, timeout=5.0):
        poll(lambda: self.text() == expected, timeout, what=f'the target to hold {expected[:40]!r}')


class HungOwner:
    """A client that owns CLIPBOARD and never answers a request for its content."""

    def __init__(self, desktop):
        self.connection = xlib.Connection(desktop.display)
        c = self.connection
        window = c.x.XCreateSimpleWindow(c.d, c.root, 0, 0, 1, 1, 0, 0, 0)
        c.x.XSetSelectionOwner(c.d, c.atom('CLIPBOARD'), window, 0)
        c.x.XSync(c.d, 0)
        self.requests = 0

    def asked(self):
        """True once another client has asked for the clipboard (and waits in vain)."""
        self.requests += self.connection.selection_requests()
        return self.requests > 0

    def close(self):
        self.connection.close()


class ClipboardManager:
    """A real clipboard manager (parcellite): it reads every new clipboard text at once, keeps it in
    its history and puts its last text back whenever the clipboard is emptied. Returns once it does."""

    def __init__(self, desktop, timeout=60):
        self.desktop = desktop
        home = os.path.join(desktop.env['XDG_RUNTIME_DIR'], 'clipboard-manager')
        data = os.path.join(home, 'data')
        self.history = os.path.join(data, 'parcellite', 'history')
        env = dict(desktop.env, HOME=home, XDG_DATA_HOME=data, XDG_CONFIG_HOME=os.path.join(home, 'config'))
        desktop.processes.append(subprocess.Popen(['parcellite', '-n'], env=env, stdout=subprocess.DEVNULL,
                                                  stderr=subprocess.DEVNULL))
        wait_until(lambda: self.keeps('manager probe'), timeout, 'the clipboard manager to keep a text')

    def has_read(self, text):
        """True once the text is in the manager's history (it writes the history as it reads)."""
        try:
            with open(self.history, 'rb') as f:
                return text.encode() in f.read()
        except OSError:
            return False

    def newest(self, *texts):
        """Of the texts in the manager's history, the one it read last (the history lists the newest
        first), or None."""
        try:
            with open(self.history, 'rb') as f:
                history = f.read()
        except OSError:
            return None
        found = [(history.find(t.encode()), t) for t in texts if t.encode() in history]
        return min(found)[1] if found else None

    def keeps(self, text):
        """Owns the clipboard with the text until the manager has read it, ends the owner, and tells
        whether the manager puts the text back."""
        owner = self.desktop.set_clipboard(text)
        try:
            poll(lambda: self.has_read(text), timeout=3, what='the manager to read the text')
        except TimeoutError:
            return False
        finally:
            owner.kill()
            owner.wait()
        try:
            return poll(lambda: self.desktop.clipboard() == text, timeout=3, what='the text put back')
        except TimeoutError:
            return False


def pixel(desktop, x, y, window=None):
    """The colour of a pixel as (red, green, blue): of the screen, or of a window's own content, which
    a compositing manager (mutter) does not always show on the screen yet."""
    connection = xlib.Connection(desktop.display)
    try:
        return connection.pixel(x, y, window)
    finally:
        connection.close()


def write_slot_file(path, sections, encoding='utf-8'):
    """Writes [textNN] sections, each a list of lines, ended by [end]; CR LF line ends."""
    lines = []
    for number, body in sections.items():
        lines.append(f'[text{number:02d}]')
        lines.extend(body)
        lines.append('[end]')
    with open(path, 'wb') as f:
        f.write(('\r\n'.join(lines) + '\r\n').encode(encoding))


class DesktopTestCase(unittest.TestCase):
    """A fresh desktop for every test."""

    def setUp(self):
        varnel_binary()
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)
