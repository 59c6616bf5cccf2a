import time

from fixture import SETTINGS, VarnelSession, needs_backends, poll

WM_KEYDOWN, VK_RETURN, VK_ESCAPE, VK_DOWN = 0x100, 0x0D, 0x1B, 0x28


class SlotMenu(VarnelSession):
    # The menu's items in order, separators left out (the arrow keys skip them).
    ITEMS = ['半角', '全角', 'ひらがな', 'カタカナ', '大文字', '小文字', 'Tab→ｶﾝﾏ', 'ｶﾝﾏ→Tab', '空白削除', '削除']

    def choose(self, slot, item):
        """Right-clicks the slot and picks the item with the arrow keys and Enter (None: Escape). The keys
        are posted to the menu's window, whose thread runs the menu loop, wherever the focus is."""
        self.tool.mouse(self.slot(slot), 'left')
        self.tool.mouse(self.slot(slot), 'right')
        menu = poll(lambda: self.tool.find(cls='#32768'), what='the slot menu')[0].hwnd
        time.sleep(0.3)  # the menu window shows before its loop takes keys
        keys = [VK_ESCAPE] if item is None else [VK_DOWN] * (self.ITEMS.index(item) + 1) + [VK_RETURN]
        for key in keys:
            self.tool.run('post', menu, WM_KEYDOWN, key, 0)
        poll(lambda: not self.tool.find(cls='#32768'), what='the slot menu to close')
        return menu

    def test_items_change_only_their_own_slot(self):
        texts = ['ＡＢＣ　ｶﾀｶﾅ', 'a,b,c', 'ひらがな', '  both ends  ', 'gone']
        for i, text in enumerate(texts, 1):
            self.set_slot(i, text)
        self.choose(1, '半角')
        self.wait_slot(1, 'ABC ｶﾀｶﾅ')
        self.choose(2, 'ｶﾝﾏ→Tab')
        self.wait_slot(2, 'a\tb\tc')
        self.choose(3, 'カタカナ')
        self.wait_slot(3, 'ヒラガナ')
        self.choose(5, '削除')
        self.wait_slot(5, '')
        self.choose(4, None)  # dismissed: nothing changes
        self.assertEqual([self.slot_text(i) for i in range(1, 6)],
                         ['ABC ｶﾀｶﾅ', 'a\tb\tc', 'ヒラガナ', '  both ends  ', ''])


class EditDialog(VarnelSession):
    def open(self, slot):
        self.tool.mouse(self.slot(slot), 'double')
        return self.dialog(f'テキストの編集（{slot}）')

    def test_ok_stores_the_edited_text_and_cancel_discards_it(self):
        self.set_slot(2, 'before')
        dialog, controls = self.open(2)
        text = controls[self.ids['EditText']]
        self.assertEqual(self.tool.text(text), 'before')
        self.type_into(text, 'after\r\n二行目 😀')
        self.tool.click(controls[self.ids['EditOk']])
        self.wait_closed(dialog)
        self.assertEqual(self.slot_text(2), 'after\r\n二行目 😀')

        dialog, controls = self.open(2)
        self.type_into(controls[self.ids['EditText']], 'discarded')
        self.tool.click(controls[self.ids['EditCancel']])
        self.wait_closed(dialog)
        self.assertEqual(self.slot_text(2), 'after\r\n二行目 😀')


class ScreenReaderRoles(VarnelSession):
    FRAME, DIALOG = 0x09, 0x12  # MSAA's window and dialog roles

    def test_the_main_window_is_a_frame_and_the_dialogs_are_dialogs(self):
        self.assertEqual(self.tool.role(self.main.hwnd), (self.FRAME, 'Varnel'))
        self.tool.mouse(self.slot(1), 'double')
        dialog, controls = self.dialog('テキストの編集（1）')
        self.assertEqual(self.tool.role(dialog), (self.DIALOG, 'テキストの編集（1）'))
        self.tool.click(controls[self.ids['EditCancel']])
        self.wait_closed(dialog)
        dialog, controls = self.open_settings()
        self.assertEqual(self.tool.role(dialog), (self.DIALOG, SETTINGS))
        self.tool.click(controls['SettingsCancel'])
        self.wait_closed(dialog)


class SettingsDialog(VarnelSession):
    def state(self, dialog, controls):
        options = {c.id: c.hwnd for c in self.tool.children(dialog)}
        first = self.ids['SendModeOption']
        return ([self.tool.checked(options[first]), self.tool.checked(options[first + 1])],
                self.tool.checked(controls['CaptureCheck']), self.tool.text(controls['RotationCombo']))

    def test_opens_with_the_settings_in_force_and_ok_stores_them(self):
        dialog, controls = self.open_settings()
        self.assertEqual(self.state(dialog, controls), ([True, False], True, ' 1'))
        self.tool.click(controls['SettingsCancel'])
        self.wait_closed(dialog)

        self.apply_settings(keystrokes=True, rotation='3')
        self.addCleanup(self.apply_settings, keystrokes=False, rotation='1')
        dialog, controls = self.open_settings()
        self.assertEqual(self.state(dialog, controls), ([False, True], True, ' 3'))
        self.tool.click(controls['SettingsCancel'])
        self.wait_closed(dialog)

    @needs_backends
    def test_keystroke_mode_and_rotation_count_take_effect(self):
        self.apply_settings(keystrokes=True, rotation='3')
        self.addCleanup(self.apply_settings, keystrokes=False, rotation='1')
        for i, text in enumerate(['一', '二', '三', '四']):
            self.capture(text, slot=i % 3 + 1)
        self.assertEqual([self.slot_text(i) for i in range(1, 4)], ['四', '二', '三'])
        self.focus_target()
        self.tool.set_text(self.target_edit, '')
        sequence = self.tool.clipboard_sequence()
        self.press(self.control('SendButton', 2))
        self.wait_target('二')
        self.assertEqual(self.tool.clipboard_sequence(), sequence)  # typed, not pasted
