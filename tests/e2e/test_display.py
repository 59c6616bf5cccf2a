import unittest

from fixture import DesktopTestCase, TkTarget, Varnel, assert_stays, poll, TWIPS_PER_PIXEL


def px(twips):
    return round(twips / TWIPS_PER_PIXEL)


class Display(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.varnel = Varnel(self.desktop)

    def test_double_clicks_cycle_the_three_heights(self):
        heights = []
        for _ in range(3):
            before = self.varnel.client_size()
            self.varnel.double_click_twips(40, 300)  # the bare margin left of the top row
            poll(lambda: self.varnel.client_size() != before, what='a new height')
            heights.append(self.varnel.client_size())
        self.assertEqual(heights, [(px(3720), px(480)), (px(3720), px(5370)), (px(3720), px(2970))])

    def test_narrowing_snaps_back_to_the_minimum_width(self):
        self.desktop.run(['xdotool', 'windowsize', '--sync', str(self.varnel.window), '40', '198'], check=False)
        poll(lambda: self.varnel.client_size()[0] == px(1680), what='the minimum width')
        assert_stays(lambda: self.varnel.client_size()[0] == px(1680), 0.3, 'the minimum width')

    def test_z_order_buttons_keep_the_window_and_its_id(self):
        window = self.varnel.window
        target = TkTarget(self.desktop)
        layers = self.desktop.supports('_NET_WM_STATE_ABOVE')
        if layers:
            # Away from the docked window, so that its buttons stay within reach when it is behind.
            self.desktop.run(['xdotool', 'windowsize', '--sync', str(target.window), '300', '200',
                              'windowmove', '--sync', str(target.window), '0', '0'], check=False)
        target.activate()
        poll(lambda: self.desktop.stacked_above(window, target.window), what='topmost over a newer window')
        self.varnel.click_twips(480 + 187, 70 + 187)  # the z-order button "背面に表示する"
        if layers:
            poll(lambda: '_NET_WM_STATE_ABOVE' not in self.desktop.window_state(window), what='ABOVE removed')
            poll(lambda: self.desktop.stacked_above(target.window, window), what='the bottom')
        else:
            # A manager without layers (i3) keeps a floating window above tiled ones whatever it is asked.
            assert_stays(lambda: self.desktop.stacked_above(window, target.window), 0.3, 'above the target')
        self.varnel.click_twips(120 + 187, 70 + 187)  # the z-order button "常に手前に表示"
        if layers:
            poll(lambda: '_NET_WM_STATE_ABOVE' in self.desktop.window_state(window), what='ABOVE again')
        poll(lambda: self.desktop.stacked_above(window, target.window), what='the top')
        self.assertEqual(self.desktop.find_window('^Varnel$', pid=self.varnel.process.pid), window)

if __name__ == '__main__':
    unittest.main()
