import unittest

from fixture import DesktopTestCase, Varnel, TWIPS_PER_PIXEL


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


if __name__ == '__main__':
    unittest.main()
