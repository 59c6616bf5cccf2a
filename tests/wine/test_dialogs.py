from fixture import VarnelSession, needs_backends, poll

SETTINGS = 'Varnelの詳細設定'


class SlotMenu(VarnelSession):
    # The menu's items in order, separators left out (the arrow keys skip them).
    ITEMS = ['半角', '全角', 'ひらがな', 'カタカナ', '大文字', '小文字', 'Tab→ｶﾝﾏ', 'ｶﾝﾏ→Tab', '空白削除', '削除']

    def choose(self, slot, item):
        """Right-clicks the slot and picks the item with the arrow keys and Enter (None: Escape)."""
        self.tool.mouse(self.slot(slot), 'right')
        menu = poll(lambda: self.tool.find(cls='#32768'), what='the slot menu')[0].hwnd
        if item is None:
            self.tool.keys('escape')
        else:
            self.tool.keys(*['down'] * (self.ITEMS.index(item) + 1), 'return')
        poll(lambda: not self.tool.find(cls='#32768'), what='the slot menu to close')
        return menu

    def test_items_change_only_their_own_slot(self):
        # No full-width kana is typed here: under Wine, once some are typed as KEYEVENTF_UNICODE keys, a
        # popup menu of the program takes no arrow or Enter keys any more (kanji and half-width kana do
        # not do this).
        texts = ['ＡＢＣ　ｶﾀｶﾅ', 'a,b,c', 'abc ｶﾅ', '  both ends  ', 'gone']
        for i, text in enumerate(texts, 1):
            self.set_slot(i, text)
        self.choose(1, '半角')
        self.wait_slot(1, 'ABC ｶﾀｶﾅ')
        self.choose(2, 'ｶﾝﾏ→Tab')
        self.wait_slot(2, 'a\tb\tc')
        self.choose(3, '全角')
        self.wait_slot(3, 'ａｂｃ　カナ')
        self.choose(5, '削除')
        self.wait_slot(5, '')
        self.choose(4, None)  # dismissed: nothing changes
        self.assertEqual([self.slot_text(i) for i in range(1, 6)],
                         ['ABC ｶﾀｶﾅ', 'a\tb\tc', 'ａｂｃ　カナ', '  both ends  ', ''])


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


class SettingsDialog(VarnelSession):
    def open_settings(self):
        self.press(self.control('SettingsButton'))
        dialog, controls = self.dialog(SETTINGS)
        return dialog, {name: controls[self.ids[name]] for name in self.ids if self.ids[name] in controls}

    def state(self, controls):
        return ([self.tool.checked(controls['SendModeOption']), self.tool.checked(self.option(controls, 1))],
                self.tool.checked(controls['CaptureCheck']), self.tool.text(controls['RotationCombo']))

    def option(self, controls, index):
        """The send-mode option of that index (the dialog's children by identifier)."""
        return next(c.hwnd for c in self.tool.children(self.dialog_hwnd)
                    if c.id == self.ids['SendModeOption'] + index)

    def apply(self, keystrokes, rotation):
        self.dialog_hwnd, controls = self.open_settings()
        self.tool.click(self.option(controls, 1 if keystrokes else 0))
        self.tool.set_text(controls['RotationCombo'], rotation)
        self.tool.click(controls['SettingsOk'])
        self.wait_closed(self.dialog_hwnd)

    def test_opens_with_the_settings_in_force_and_ok_stores_them(self):
        self.dialog_hwnd, controls = self.open_settings()
        self.assertEqual(self.state(controls), ([True, False], True, ' 1'))
        self.tool.click(controls['SettingsCancel'])
        self.wait_closed(self.dialog_hwnd)

        self.apply(keystrokes=True, rotation='3')
        self.dialog_hwnd, controls = self.open_settings()
        self.assertEqual(self.state(controls), ([False, True], True, ' 3'))
        self.tool.click(controls['SettingsCancel'])
        self.wait_closed(self.dialog_hwnd)
        self.apply(keystrokes=False, rotation='1')

    @needs_backends
    def test_keystroke_mode_and_rotation_count_take_effect(self):
        self.apply(keystrokes=True, rotation='3')
        for i, text in enumerate(['一', '二', '三', '四']):
            self.capture(text, slot=i % 3 + 1)
        self.assertEqual([self.slot_text(i) for i in range(1, 4)], ['四', '二', '三'])
        self.focus_target()
        self.tool.set_text(self.target_edit, '')
        sequence = self.tool.clipboard_sequence()
        self.press(self.control('SendButton', 2))
        self.wait_target('二')
        self.assertEqual(self.tool.clipboard_sequence(), sequence)  # typed, not pasted
        self.apply(keystrokes=False, rotation='1')
