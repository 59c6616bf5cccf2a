import time
import unittest

from fixture import DesktopTestCase, Varnel, poll


class SlotMenu(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.varnel = Varnel(self.desktop)
        self.desktop.set_clipboard('abc  ')
        poll(lambda: self.desktop.clipboard() == 'abc  ', what='the text on the clipboard')
        time.sleep(0.6)

    def choose(self, *keys):
        self.varnel.click_twips(960 + 300, 600 + 100, button=3)
        poll(lambda: self.desktop.run(['xdotool', 'search', '--onlyvisible', '--class', 'varnel'], check=False)
             .split().__len__() > 1, what='the menu')
        for key in keys:
            self.desktop.run(['xdotool', 'key', key])
        time.sleep(0.3)

    def test_upper_case_from_the_keyboard(self):
        self.choose('Down', 'Down', 'Down', 'Down', 'Down', 'Return')  # "大文字"
        self.assertEqual(self.varnel.slot_text(1), 'ABC  ')

    def test_clear_empties_the_slot_and_escape_changes_nothing(self):
        self.choose('Escape')
        self.assertEqual(self.varnel.slot_text(1), 'abc  ')
        self.choose('Up', 'Return')  # the last item, "削除"
        self.assertEqual(self.varnel.slot_text(1), '')


if __name__ == '__main__':
    unittest.main()
