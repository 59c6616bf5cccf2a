import shutil
import unittest

from fixture import Desktop, DesktopTestCase, Varnel, varnel_binary, TWIPS_PER_PIXEL


class StartUp(DesktopTestCase):
    def test_window_is_docked_topmost_and_sized_and_closes_cleanly(self):
        varnel = Varnel(self.desktop)
        x, y, width, height = self.desktop.geometry(varnel.window)
        left, _, _, _ = self.desktop.frame_extents(varnel.window)
        # A 1024-pixel screen docks the outer left edge at 15 * 1024 - 4095 = 11265 twips.
        self.assertEqual(x - left, 11265 // TWIPS_PER_PIXEL)
        self.assertEqual((width, height), (3720 // TWIPS_PER_PIXEL, 2970 // TWIPS_PER_PIXEL))
        if self.desktop.supports('_NET_WM_STATE_ABOVE'):
            self.assertIn('_NET_WM_STATE_ABOVE', self.desktop.window_state(varnel.window))
        self.assertEqual(varnel.close(), 0)


class TwoMonitors(unittest.TestCase):
    """A primary monitor of 1024 x 768 at the left and a smaller one of 800 x 600 right of it: RandR
    monitors on one X screen 1824 pixels wide, as two monitors side by side are."""

    def setUp(self):
        varnel_binary()
        if shutil.which('xrandr') is None:
            raise unittest.SkipTest('xrandr is not installed')
        self.desktop = Desktop(width=1824, height=768)
        self.addCleanup(self.desktop.close)
        self.desktop.run(['xrandr', '--setmonitor', '*primary', '1024/0x768/0+0+0', 'screen'])
        self.desktop.run(['xrandr', '--setmonitor', 'right', '800/0x600/0+1024+0', 'none'])

    def test_the_window_docks_on_the_primary_monitor_and_stays_within_it(self):
        varnel = Varnel(self.desktop)
        x, y, width, height = self.desktop.geometry(varnel.window)
        left, right, top, bottom = self.desktop.frame_extents(varnel.window)
        # The primary monitor's width counts, not the screen's: 15 * 1024 - 4095 = 11265 twips.
        self.assertEqual(x - left, 11265 // TWIPS_PER_PIXEL)
        self.assertLessEqual(x + width + right, 1024)
        self.assertLessEqual(y + height + bottom, 768)
        self.assertGreaterEqual(y - top, 0)
        self.assertEqual(varnel.close(), 0)


if __name__ == '__main__':
    unittest.main()
