import os
import shutil
import subprocess
import time
import unittest

from fixture import DesktopTestCase, TkTarget, Varnel, poll


class SelectionConversion(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.varnel = Varnel(self.desktop)
        self.target = TkTarget(self.desktop)
        self.target.activate()
        time.sleep(0.5)  # the tick takes the Tk window as the target

    def convert(self, text, button, select=True):
        self.target.set_text(text)
        if select:
            self.target.select_all()
        self.varnel.click_conversion(button)

    def test_upper_case_replaces_the_selection_and_restores_the_clipboard(self):
        self.convert('abc def', 4)
        self.target.wait_for_text('ABC DEF')
        # Nothing was captured before, so LastClipboardText is empty and the clipboard holds "".
        poll(lambda: self.desktop.clipboard() == '', what='the restored clipboard')

    def test_half_width_katakana_widen_and_join(self):
        self.convert('ﾊﾟｿｺﾝ', 1)
        self.target.wait_for_text('パソコン')

    def test_nothing_selected_changes_nothing_and_leaves_the_clipboard_empty(self):
        self.desktop.set_clipboard('before')
        poll(lambda: self.desktop.clipboard() == 'before', what='the text on the clipboard')
        time.sleep(0.5)
        self.target.activate()
        time.sleep(0.5)
        self.convert('keep me', 0, select=False)
        time.sleep(1.5)  # the bounded wait for the copy
        self.assertEqual(self.target.text(), 'keep me')
        self.assertIsNone(self.desktop.clipboard())

    def test_a_clipboard_manager_refilling_the_cleared_clipboard_is_not_taken_for_the_copy(self):
        if shutil.which('parcellite') is None:
            self.skipTest('parcellite is not installed')
        home = os.path.join(self.desktop.env['XDG_RUNTIME_DIR'], 'parcellite-home')
        self.desktop.processes.append(subprocess.Popen(
            ['parcellite', '-n'], env=dict(self.desktop.env, HOME=home), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL))
        # Once the manager runs, it puts the text back when its owner goes away.
        def manager_keeps(text):
            owner = self.desktop.set_clipboard(text)
            poll(lambda: self.desktop.clipboard() == text, what='the text on the clipboard')
            time.sleep(0.6)
            owner.kill()
            owner.wait()
            time.sleep(0.6)
            return self.desktop.clipboard() == text
        poll(lambda: manager_keeps('older text'), timeout=15, what='the clipboard manager')
        self.target.activate()
        time.sleep(0.5)
        self.convert('keep me', 4, select=False)
        time.sleep(1.5)  # the bounded wait for the copy
        self.assertEqual(self.target.text(), 'keep me')


if __name__ == '__main__':
    unittest.main()
