import os
import tempfile

from fixture import MAIN_CLASS, WS_EX_TOPMOST, VarnelSession, figure, needs_backends, poll, windows_path


class StartUp(VarnelSession):
    def test_one_window_docked_at_the_right_edge_showing_five_rows(self):
        figure(f'start-up to the main window: {self.startup_seconds * 1000:.0f} ms (wine process start included)')
        working_set, peak, _ = self.tool.memory(self.main.hwnd)
        figure(f'working set after start-up: {working_set / 2**20:.1f} MiB (peak {peak / 2**20:.1f} MiB)')
        self.assertEqual(len(self.tool.find('Varnel', MAIN_CLASS)), 1)
        rect = self.tool.rect(self.main.hwnd)
        _, monitor = self.tool.work_area(self.main.hwnd)
        # Docking puts the outer left edge at 15 * width - 4095 twips: 273 pixels from the right edge.
        self.assertEqual(rect.left, monitor[2] - 273)
        self.assertLessEqual(rect.right, monitor[2])
        self.assertEqual((rect.client_width, rect.client_height), (3720 // 15, 2970 // 15))

    @needs_backends
    def test_topmost_and_the_z_order_buttons(self):
        self.assertTrue(self.topmost())
        self.press(self.control('ZOrderButton', 2))  # behind all others: no longer topmost
        poll(lambda: not self.topmost(), what='the window to leave the topmost group')
        self.press(self.control('ZOrderButton', 1))
        poll(self.topmost, what='the window to be topmost again')

    def topmost(self):
        return next(w.exstyle for w in self.tool.windows() if w.hwnd == self.main.hwnd) & WS_EX_TOPMOST


class Shutdown(VarnelSession):
    @needs_backends
    def test_closing_with_the_edit_dialog_open_ends_the_program_and_returns_the_focus(self):
        self.focus_target()
        self.tool.mouse(self.slot(1), 'double')
        self.dialog('テキストの編集（1）')
        self.tool.close(self.main.hwnd)
        self.assertEqual(self.varnel.process.wait(timeout=30), 0)
        poll(lambda: self.tool.foreground() == self.target, what='the focus back on the target')


# Slot file in the system code page (932), as a Japanese Windows editor saves it.
SLOT_FILE = '[text01]\r\nHello\r\n漢字ｶﾅ①\r\n[end]\r\nmemo\r\n[TEXT03]\r\none, two\r\n[end]\r\n'


class SlotFile(VarnelSession):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix='varnel-slots')
        path = os.path.join(cls.folder.name, 'slots.txt')
        with open(path, 'wb') as f:
            f.write(SLOT_FILE.encode('cp932'))
        cls.ARGS = (windows_path(path),)
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.folder.cleanup()

    def test_slots_filled_from_the_file_and_capture_off(self):
        self.assertEqual([self.slot_text(i) for i in range(1, 5)], ['Hello\r\n漢字ｶﾅ①', '', 'one\r\ntwo', ''])
        self.press(self.control('SettingsButton'))
        dialog, controls = self.dialog('Varnelの詳細設定')
        self.assertFalse(self.tool.checked(controls[self.ids['CaptureCheck']]))
        self.tool.click(controls[self.ids['SettingsCancel']])
        self.wait_closed(dialog)
