import shutil
import unittest

from fixture import ClipboardManager, DesktopTestCase, TkTarget, Varnel, assert_stays, poll


class SelectionConversion(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.varnel = Varnel(self.desktop)
        self.target = TkTarget(self.desktop)
        self.target.activate()
        self.varnel.wait_for_target(self.target.window)

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
        self.varnel.capture('before')
        self.target.activate()
        self.varnel.wait_for_target(self.target.window)
        self.convert('keep me', 0, select=False)
        self.assert_text_stays_through_the_copy_wait()
        self.assertIsNone(self.desktop.clipboard())

    def assert_text_stays_through_the_copy_wait(self):
        # Nothing to see happens when nothing is selected: the target's text must stay the same while
        # Varnel waits its bound (half a second) for a copy that never comes, and a while after.
        assert_stays(lambda: self.target.text() == 'keep me', 1.5, 'the target\'s unselected text')

    def test_a_clipboard_manager_refilling_the_cleared_clipboard_is_not_taken_for_the_copy(self):
        if shutil.which('parcellite') is None:
            self.skipTest('parcellite is not installed')
        ClipboardManager(self.desktop)  # it puts its text back when the clipboard is cleared
        self.target.activate()
        self.varnel.wait_for_target(self.target.window)
        self.convert('keep me', 4, select=False)
        self.assert_text_stays_through_the_copy_wait()


if __name__ == '__main__':
    unittest.main()
