import os
import tempfile
import unittest

from fixture import DesktopTestCase, Varnel, pixel, poll, write_slot_file, TWIPS_PER_PIXEL


class SlotFile(DesktopTestCase):
    def slot1_colour(self, varnel):
        # Painted once the window shows; the window's first paint can come a moment after it is mapped.
        poll(lambda: pixel(self.desktop, 1, 1, varnel.window) != (0, 0, 0), what='the first paint')
        return pixel(self.desktop, 1000 // TWIPS_PER_PIXEL, 640 // TWIPS_PER_PIXEL, varnel.window)

    def test_a_shift_jis_file_fills_the_slots_and_switches_capture_off(self):
        folder = tempfile.mkdtemp(prefix='varnel-e2e-')
        path = os.path.join(folder, 'メモ.txt')
        content = ('前置きは無視\r\n[text01]\r\nソフト表示\r\n二行目\r\n[end]\r\n'
                   '[TEXT03]\r\none, two\r\n"a,b"\r\n[end]\r\n')
        with open(path, 'wb') as f:
            f.write(content.encode('cp932'))
        varnel = Varnel(self.desktop, [path])
        # No slot wears the capture colour.
        self.assertNotEqual(self.slot1_colour(varnel), (255, 255, 192))
        self.assertEqual(varnel.slot_text(1), 'ソフト表示\r\n二行目')
        self.assertEqual(varnel.slot_text(3), 'one\r\ntwo\r\na,b')
        self.assertEqual(varnel.slot_text(2), '')
        # Capture is off: a new clipboard text stays out of the slots.
        self.desktop.set_clipboard('not captured')
        poll(lambda: self.desktop.clipboard() == 'not captured', what='the text on the clipboard')
        varnel.assert_captures_nothing()
        self.assertEqual(varnel.slot_text(1), 'ソフト表示\r\n二行目')

    def test_without_a_usable_file_capture_stays_on(self):
        folder = tempfile.mkdtemp(prefix='varnel-e2e-')
        hidden = os.path.join(folder, '.hidden.txt')
        with open(hidden, 'w') as f:
            f.write('[text01]\nhidden\n[end]\n')
        for args in ([os.path.join(folder, 'missing.txt')], [hidden], [folder]):
            varnel = Varnel(self.desktop, args)
            poll(lambda: self.slot1_colour(varnel) == (255, 255, 192), what=f'the capture colour with {args}')
            self.assertEqual(varnel.close(), 0)

    def test_a_fifo_named_like_a_matching_pattern_is_refused_and_told(self):
        # A FIFO must neither keep the program from starting nor load anything.
        varnel = Varnel.with_slot_file_notice(self.desktop)
        self.desktop.set_clipboard('not captured')
        varnel.assert_captures_nothing()  # capture is off, as for a named slot file
        self.assertEqual(varnel.close(), 0)
        self.assertIn(f'varnel: the slot file was not loaded: {varnel.fifo}: not a regular file',
                      varnel.process.stderr.read().decode())


if __name__ == '__main__':
    unittest.main()
