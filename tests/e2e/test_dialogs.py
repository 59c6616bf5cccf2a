import os
import tempfile
import unittest

from fixture import DesktopTestCase, TkTarget, Varnel, poll, write_slot_file, TWIPS_PER_PIXEL


class Dialogs(DesktopTestCase):
    def start(self, sections=None):
        args = []
        if sections:
            path = os.path.join(tempfile.mkdtemp(prefix='varnel-e2e-'), 'slots.txt')
            write_slot_file(path, sections)
            args = [path]
        self.varnel = Varnel(self.desktop, args)
        return self.varnel

    def open_settings(self):
        self.varnel.click_twips(3240 + 187, 70 + 187)
        self.settings = self.desktop.find_window('^Varnelの詳細設定$')
        return self.settings

    def click_in(self, window, x, y, button=1):
        self.desktop.click(window, x // TWIPS_PER_PIXEL, y // TWIPS_PER_PIXEL, button)

    def settings_ok(self):
        self.click_in(self.settings, 360 + 700, 5760 + 187)
        poll(lambda: not self.desktop.run(['xdotool', 'search', '--onlyvisible', '--name', '^Varnelの詳細設定$'],
                                          check=False).split(), what='the settings dialog to close')

    def test_keystroke_mode_types_the_slot_into_the_target(self):
        text = 'typed: ひらがな カタカナ 漢字 ﾊﾝｶｸ +^%~(){}[] tab\there'
        self.start({1: [f'"{text}"', 'second line']})
        target = TkTarget(self.desktop)
        target.activate()
        self.varnel.wait_for_target(target.window)
        self.open_settings()
        self.click_in(self.settings, 360 + 300, 1560 + 187)  # "キーストロークの送信"
        self.settings_ok()
        target.activate()  # the focus went back to the target; make sure of it
        self.varnel.wait_for_target(target.window)
        self.varnel.click_send(1)
        # CR LF became one carriage return, typed as the Return key: Tk shows a line break.
        target.wait_for_text(text + '\nsecond line', timeout=15)

    def test_keystroke_mode_converts_a_two_line_selection(self):
        self.start()
        target = TkTarget(self.desktop)
        self.open_settings()
        self.click_in(self.settings, 360 + 300, 1560 + 187)  # "キーストロークの送信"
        self.settings_ok()
        target.activate()
        self.varnel.wait_for_target(target.window)
        target.set_text('abc\ndef ｶﾞ')
        target.select_all()
        self.varnel.click_conversion(4)  # "A"
        target.wait_for_text('ABC\nDEF ｶﾞ', timeout=15)
        poll(lambda: self.desktop.clipboard() == '', what='the restored clipboard')

    def test_buttons_only_height_and_rotation_over_three_slots(self):
        varnel = self.start()
        self.open_settings()
        self.click_in(self.settings, 2280 + 300, 3720 + 127)  # "ボタン表示のみ"
        self.click_in(self.settings, 2760 + 300, 2760 + 170)  # the combo box's text
        self.desktop.key('ctrl+a')
        self.desktop.run(['xdotool', 'type', '3'])
        self.settings_ok()
        poll(lambda: varnel.client_size()[1] == 480 // TWIPS_PER_PIXEL, what='the buttons-only height')
        varnel.double_click_twips(40, 300)  # on to all ten rows
        poll(lambda: varnel.client_size()[1] == 5370 // TWIPS_PER_PIXEL, what='all rows')
        for text in ('one', 'two', 'three', 'four'):
            varnel.capture(text)
        self.assertEqual(varnel.slot_text(1), 'four')
        # Reading slot 1 put "four" back on the clipboard: equal to the last capture, nothing moves.
        self.assertEqual(varnel.slot_text(2), 'two')

    def test_clear_all_then_cancel_leaves_the_slots_empty(self):
        varnel = self.start({1: ['a'], 2: ['b']})
        self.open_settings()
        self.click_in(self.settings, 360 + 700, 4920 + 187)  # "全消去実行"
        self.click_in(self.settings, 2520 + 700, 5760 + 187)  # "キャンセル"
        poll(lambda: not self.desktop.run(['xdotool', 'search', '--onlyvisible', '--name', '^Varnelの詳細設定$'],
                                          check=False).split(), what='the settings dialog to close')
        self.assertEqual(varnel.slot_text(1), '')
        self.assertEqual(varnel.slot_text(2), '')

    def test_edit_dialog_stores_on_ok_and_returns_the_focus(self):
        varnel = self.start({2: ['original']})
        target = TkTarget(self.desktop)
        target.activate()
        varnel.wait_for_target(target.window)
        varnel.double_click_twips(960 + 500, 1080 + 187)  # slot 2
        dialog = self.desktop.find_window('^テキストの編集（2）$')
        # At its own size, also under a tiling manager.
        self.assertEqual(self.desktop.geometry(dialog)[2:], (4680 // TWIPS_PER_PIXEL, 3345 // TWIPS_PER_PIXEL))
        self.desktop.activate(dialog)
        self.desktop.key('ctrl+a')
        self.desktop.run(['xdotool', 'type', '--delay', '5', 'edited'])
        self.click_in(dialog, 480 + 787, 2760 + 247)  # "Ｏ Ｋ"
        poll(lambda: self.desktop.active_window() == target.window, what='the focus back on the target')
        self.assertEqual(varnel.slot_text(2), 'edited')


if __name__ == '__main__':
    unittest.main()
