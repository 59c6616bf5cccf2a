"""Deliveries while a real clipboard manager (parcellite) runs: it reads every new clipboard text at
once and puts its last text back whenever the clipboard is emptied."""
import os
import shutil
import signal
import tempfile
import unittest

from fixture import ClipboardManager, DesktopTestCase, TkTarget, Varnel, holds_for, write_slot_file


class WithClipboardManager(DesktopTestCase):
    def setUp(self):
        super().setUp()
        if shutil.which('parcellite') is None:
            raise RuntimeError('parcellite is not installed')
        self.manager = ClipboardManager(self.desktop)

    def test_paste_into_a_busy_target_delivers_the_slot_every_time(self):
        texts = {1: 'スロット一 from the slot file', 2: 'slot two ｶﾀｶﾅ'}
        folder = tempfile.mkdtemp(prefix='varnel-e2e-')
        path = os.path.join(folder, 'slots.txt')
        write_slot_file(path, {n: [t] for n, t in texts.items()})
        varnel = Varnel(self.desktop, [path])
        target = TkTarget(self.desktop)
        target.activate()
        varnel.wait_for_target(target.window)
        wrong = []
        for n in range(20):
            slot = 1 + n % 2
            target.set_text('')
            # The target is busy (stopped) while the paste key reaches it, so that the manager reads the
            # slot's text first and the target only afterwards. It is stopped for 0.6 s at most: a target
            # that answers later than the paste's bound (1 s) gets the clipboard as it was before.
            os.kill(target.process.pid, signal.SIGSTOP)
            try:
                varnel.click_send(slot)
                holds_for(lambda: self.manager.newest(*texts.values()) != texts[slot], 0.6)
            finally:
                os.kill(target.process.pid, signal.SIGCONT)
            try:
                target.wait_for_text(texts[slot], timeout=5)
            except TimeoutError:
                wrong.append((n, target.text()[:60]))
        self.assertEqual(wrong, [], f'{20 - len(wrong)} of 20 exact')

    def test_conversion_converts_the_selection_not_the_managers_text(self):
        varnel = Varnel(self.desktop)
        target = TkTarget(self.desktop)
        target.activate()
        varnel.wait_for_target(target.window)
        for n in range(5):
            target.set_text(f'selection {n}')
            target.select_all()
            varnel.click_conversion(4)  # upper case
            target.wait_for_text(f'SELECTION {n}')


if __name__ == '__main__':
    unittest.main()
