import time

from fixture import VarnelSession, figure, needs_backends, spread

SAVED = '元のクリップボード'
# 500 characters of everything a slot may hold: the key-sending notation's own characters, CR LF, tab,
# kana, kanji, half-width katakana and one character outside the BMP.
MIXED = ('Send +^%~(){}[] keys\r\n\tかなカナ漢字ｶﾀｶﾅ😀 ' * 20)[:500]


@needs_backends
class PasteDelivery(VarnelSession):
    def setUp(self):
        self.capture(SAVED)  # the clipboard text that a paste puts back afterwards
        self.focus_target()

    def send(self, slot):
        if self.tool.foreground() != self.target:
            self.focus_target()
        started = time.monotonic()
        self.press(self.control('SendButton', slot))
        return started

    def test_twenty_pastes_exact_and_the_clipboard_restored(self):
        latencies, wrong = [], []
        for i in range(20):
            text = f'{i:02d} 貼り付け ｶﾀｶﾅ 😀\r\n2行目 +^%'
            self.set_slot(2, text)
            self.tool.set_text(self.target_edit, '')
            started = self.send(2)
            try:
                self.wait_target(text, timeout=5)
                latencies.append(time.monotonic() - started)
                self.assertEqual(self.tool.foreground(), self.target)  # the focus went back to it
            except TimeoutError:
                wrong.append(self.tool.text(self.target_edit))
            self.assertEqual(self.tool.clipboard(), SAVED)
        figure(f'paste, click to text in the target (wintool calls included): {spread(latencies)}')
        figure(f'paste: {20 - len(wrong)} of 20 exact')
        self.assertEqual(wrong, [])  # what the target held instead

    def test_each_conversion_replaces_the_selection(self):
        cases = [('ＡＢＣ　ｱｲｳ', 'ABC ｱｲｳ'), ('abc ｱｲｳ', 'ａｂｃ　アイウ'), ('カタカナ', 'かたかな'),
                 ('ひらがな', 'ヒラガナ'), ('abc', 'ABC'), ('XYZ', 'xyz')]
        for button, (before, after) in enumerate(cases):
            with self.subTest(button=button):
                self.tool.set_text(self.target_edit, f'keep[{before}]keep')
                self.tool.select(self.target_edit, 5, 5 + len(before.encode('utf-16-le')) // 2)
                self.send_conversion(button)
                self.wait_target(f'keep[{after}]keep')
                self.assertEqual(self.tool.clipboard(), SAVED)

    def test_a_long_text_captured_and_pasted_exactly(self):
        text = '長いテキスト 😀 line\r\n' * 15000
        started = time.monotonic()
        self.capture(text)
        figure(f'capture of {len(text)} characters: {(time.monotonic() - started) * 1000:.0f} ms')
        self.focus_target()
        self.tool.set_text(self.target_edit, '')
        started = self.send(1)
        self.wait_target(text, timeout=60)
        working_set = self.tool.memory(self.main.hwnd)[0]
        figure(f'paste of {len(text)} characters: {(time.monotonic() - started) * 1000:.0f} ms; '
               f'working set {working_set / 2**20:.1f} MiB')

    def send_conversion(self, button):
        if self.tool.foreground() != self.target:
            self.focus_target()
        self.press(self.control('ConversionButton', button))


@needs_backends
class KeystrokeDelivery(VarnelSession):
    def test_500_mixed_characters_typed_exactly(self):
        self.apply_settings(keystrokes=True, rotation='1')
        self.capture(MIXED)
        self.focus_target()
        self.tool.set_text(self.target_edit, '')
        sequence = self.tool.clipboard_sequence()
        started = time.monotonic()
        self.press(self.control('SendButton', 1))
        self.wait_target(MIXED, timeout=120)
        seconds = time.monotonic() - started
        figure(f'typing into the target: {len(MIXED)} characters in {seconds:.2f} s, '
               f'{len(MIXED) / seconds:.0f} characters/s')
        self.assertEqual(self.tool.clipboard_sequence(), sequence)

    def test_a_converted_two_line_selection_typed_with_one_line_break(self):
        self.apply_settings(keystrokes=True, rotation='1')
        self.focus_target()
        self.tool.set_text(self.target_edit, 'keep[ab\r\ncd]keep')
        self.tool.select(self.target_edit, 5, 11)
        self.press(self.control('ConversionButton', 4))  # upper case
        self.wait_target('keep[AB\r\nCD]keep')


@needs_backends
class KeystrokeLineBreaks(VarnelSession):
    TARGET_CONTROL = 'RICHEDIT50W'  # drops a line feed typed as a character

    def test_a_lone_line_feed_cr_lf_and_cr_each_typed_as_one_line_break(self):
        self.apply_settings(keystrokes=True, rotation='1')
        self.capture('a\nb\r\nc\rd')  # a slot keeps its line ends exactly as captured
        self.focus_target()
        self.tool.set_text(self.target_edit, '')
        self.press(self.control('SendButton', 1))
        self.wait_target('a\r\nb\r\nc\r\nd')
