import unittest

from fixture import DesktopTestCase, Varnel, wait_until


class SlotMenu(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.varnel = Varnel(self.desktop)
        self.varnel.capture('abc  ')

    def menu_shown(self):
        return len(self.desktop.run(['xdotool', 'search', '--onlyvisible', '--class', 'varnel'], check=False)
                   .split()) > 1

    def choose(self, *keys):
        self.varnel.click_twips(960 + 300, 600 + 100, button=3)
        wait_until(self.menu_shown, what='the menu')
        for key in keys:
            self.desktop.run(['xdotool', 'key', key])
        # The chosen item has done its work when the menu has closed.
        wait_until(lambda: not self.menu_shown(), what='the menu to close')

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
