"""Long typing in keystroke mode: the user can stop it, and no way of ending Varnel while it types
leaves the keyboard changed."""
import os
import signal
import subprocess
import tempfile

import xlib
from fixture import TWIPS_PER_PIXEL, DesktopTestCase, TkTarget, Varnel, poll, write_slot_file
from fixture import holds_for

KANJI = ''.join(chr(0x4E00 + (i * 7) % 20000) for i in range(3000))


class Typing(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.slots = os.path.join(tempfile.mkdtemp(prefix='varnel-e2e-'), 'slots.txt')
        write_slot_file(self.slots, {1: [KANJI], 2: ['second slot']})
        self.target = TkTarget(self.desktop)
        self.x = xlib.Connection(self.desktop.display)
        self.addCleanup(self.x.close)

    def keyboard(self):
        """The core keymap, the XKB keymap and the modifier state (Caps Lock included)."""
        xkb = self.desktop.run(['xkbcomp', '-xkb', self.desktop.display, '-'])
        return self.x.keymap(), xkb, self.x.modifier_state()

    def assert_keyboard_is(self, before):
        core, xkb, state = self.keyboard()
        self.assertEqual(core, before[0], 'the core keymap differs')
        self.assertTrue(xkb == before[1], 'the XKB keymap differs')
        self.assertEqual(state, before[2], 'the modifier state differs')
        self.assertEqual(self.x.keys_down(), 0)

    def start_typing(self):
        """Starts Varnel in keystroke mode and sends the kanji slot; returns once the typing is under way."""
        varnel = self.start_in_keystroke_mode()
        self.send_kanji(varnel)
        return varnel

    def start_in_keystroke_mode(self):
        varnel = Varnel(self.desktop, [self.slots])
        varnel.click_twips(3240 + 187, 70 + 187)  # the settings button
        settings = self.desktop.find_window('^Varnelの詳細設定$')
        for x, y in ((360 + 300, 1560 + 187), (360 + 700, 5760 + 187)):  # "キーストロークの送信", OK
            self.desktop.click(settings, x // TWIPS_PER_PIXEL, y // TWIPS_PER_PIXEL)
        poll(lambda: not self.desktop.run(['xdotool', 'search', '--onlyvisible', '--name', '^Varnelの詳細設定$'],
                                          check=False).split(), what='the settings dialog to close')
        return varnel

    def test_typing_into_a_terminal_leaves_it_open(self):
        # xterm takes any WM_PROTOCOLS message for a close request: typing must not ping it.
        write_slot_file(self.slots, {1: ['漢字 and ascii'], 2: ['second slot']})
        varnel = self.start_in_keystroke_mode()
        out = os.path.join(tempfile.mkdtemp(prefix='varnel-term-'), 'typed')
        terminal = self.desktop.start(['xterm', '-T', 'Varnel terminal', '-e', 'sh', '-c',
                                       f'stty -icanon -echo; cat > {out}'],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = self.desktop.find_window('^Varnel terminal$', timeout=30)
        self.desktop.activate(window)
        varnel.wait_for_target(window)
        varnel.click_send(1)
        def typed():
            if not os.path.exists(out):
                return ''
            with open(out, encoding='utf-8') as f:
                return f.read()
        poll(lambda: typed() == '漢字 and ascii', timeout=10, what='the text in the terminal')
        self.assertIsNone(terminal.poll(), 'the terminal closed')

    def send_kanji(self, varnel):
        self.target.set_text('')
        self.target.activate()
        varnel.wait_for_target(self.target.window)
        varnel.click_send(1)
        poll(lambda: len(self.target.text()) >= 50, timeout=20, what='the typing to be under way')

    def assert_typing_stopped(self):
        """The target got a part of the text and no more arrives."""
        def settled():  # unchanged for 0.3 s
            first = self.target.text()
            return first if holds_for(lambda: self.target.text() == first, 0.3) else None
        typed = poll(settled, timeout=10, what='the typing to stop')
        self.assertLess(len(typed), len(KANJI))
        self.assertTrue(KANJI.startswith(typed), typed[-20:])

    def test_ending_by_any_signal_while_typing_leaves_the_keyboard_as_it_was(self):
        self.desktop.run(['xdotool', 'key', 'Caps_Lock'])  # Caps Lock on: it must be on again afterwards
        before = self.keyboard()
        self.assertTrue(before[2] & 2)
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number.name):
                varnel = self.start_typing()
                varnel.process.send_signal(number)
                self.assertEqual(varnel.process.wait(timeout=10), 128 + number)
                self.assert_keyboard_is(before)
                self.assert_typing_stopped()
        # SIGKILL cannot be handled: the keymap stays changed until Varnel's next start repairs it.
        varnel = self.start_typing()
        varnel.process.kill()
        varnel.process.wait(timeout=10)
        self.assertNotEqual(self.keyboard(), before)
        Varnel(self.desktop)
        self.assert_keyboard_is(before)

    def test_escape_or_a_click_on_the_window_stops_typing_and_a_clicked_copy_runs_after(self):
        before = self.keyboard()
        varnel = self.start_typing()
        self.desktop.run(['xdotool', 'keydown', 'Escape', 'sleep', '0.1', 'keyup', 'Escape'])  # as long as a finger
        self.assert_typing_stopped()
        self.assert_keyboard_is(before)
        self.send_kanji(varnel)
        varnel.click_copy(2)
        self.assert_typing_stopped()
        self.assert_keyboard_is(before)
        poll(lambda: self.desktop.clipboard() == 'second slot', what='the queued copy')
        self.assertIsNone(varnel.process.poll())
