"""The window docks at the right edge and keeps the layout's size at every display scale."""
import unittest

from fixture import Desktop, Varnel, poll, varnel_binary

CLIENT = (3720 / 15, 2970 / 15)  # the client area at start-up, in logical pixels
OUTER_WIDTH = 4095 / 15          # the layout's outer width, which docking puts at the right edge


class Scale(unittest.TestCase):
    def check(self, scale, screen=(1920, 1080), factor=None, dpi=None, window_manager=True):
        desktop = Desktop(*screen)
        self.addCleanup(desktop.close)
        if not window_manager:
            desktop.stop_window_manager()
        if factor:
            desktop.env['QT_SCALE_FACTOR'] = factor
        if dpi:
            desktop.run(['xprop', '-root', '-f', 'RESOURCE_MANAGER', '8s', '-set', 'RESOURCE_MANAGER',
                         f'Xft.dpi:\t{dpi}\n'])
        varnel = Varnel(desktop)
        x, y, width, height = desktop.geometry(varnel.window)
        left, right, top, bottom = desktop.frame_extents(varnel.window)
        # Device pixels: the layout's size times the scale, the outer left edge where docking puts it.
        self.assertAlmostEqual(width, CLIENT[0] * scale, delta=1)
        self.assertAlmostEqual(height, CLIENT[1] * scale, delta=1)
        self.assertAlmostEqual(x - left, screen[0] - OUTER_WIDTH * scale, delta=1)
        self.assertGreaterEqual(min(x - left, y - top), 0)
        self.assertLessEqual(x + width + right, screen[0])
        self.assertLessEqual(y + height + bottom, screen[1])
        # The resize rule's minimum width (1680 twips of client area) holds in the same unit.
        desktop.run(['xdotool', 'windowsize', '--sync', str(varnel.window), '40', str(height)], check=False)
        poll(lambda: abs(desktop.geometry(varnel.window)[2] - 112 * scale) <= 1, what='the minimum width')
        # The slot menu opens at the click's x, placed from the window's outer corner.
        desktop.click(varnel.window, round(84 * scale), round(46 * scale), button=3)
        menus = poll(lambda: [int(w) for w in desktop.run(['xdotool', 'search', '--onlyvisible', '--class', 'varnel'],
                                                          check=False).split() if int(w) != varnel.window],
                     what='the slot menu')
        menu_x, menu_y, menu_width, menu_height = desktop.geometry(menus[0])
        # Below or above slot 1, never over it; beside it only where neither has room.
        slot_top, slot_bottom = y + 40 * scale, y + 65 * scale
        if menu_y >= slot_bottom or menu_y + menu_height <= slot_top:
            self.assertAlmostEqual(menu_x, x - left + 84 * scale, delta=6)  # menu margins, rounding
        else:
            self.assertLessEqual(menu_x + menu_width, x + 64 * scale)
        self.assertLessEqual(menu_y + menu_height, screen[1])

    def test_docked_on_screen_at_the_layout_size_at_every_scale(self):
        varnel_binary()
        for scale, factor, dpi in ((1, None, None), (1.25, '1.25', None), (1.5, '1.5', None), (2, '2', None),
                                   (2, None, 192)):
            with self.subTest(factor=factor, dpi=dpi):
                self.check(scale, factor=factor, dpi=dpi)

    def test_docked_on_a_small_screen_without_a_window_manager(self):
        varnel_binary()
        self.check(2, screen=(1024, 768), factor='2', window_manager=False)


if __name__ == '__main__':
    unittest.main()
