import subprocess

from fixture import VarnelSession, needs_backends, poll


@needs_backends
class Capture(VarnelSession):
    def test_text_set_by_another_windows_program_and_by_an_x11_client(self):
        captured = self.shown('VarnelCapturedTexts')
        self.capture('Windows側のテキスト ｶﾅ 😀\r\n2行目')
        poll(lambda: self.shown('VarnelCapturedTexts') == captured + 1, timeout=5, what='the capture count')
        # xclip on the X server of Wine's desktop: Wine takes the X clipboard over into its own.
        xclip = subprocess.Popen(['xclip', '-selection', 'clipboard', '-quiet'], stdin=subprocess.PIPE,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            xclip.stdin.write('X11からのテキスト abc'.encode('utf-8'))
            xclip.stdin.close()
            self.wait_slot(1, 'X11からのテキスト abc')
        finally:
            xclip.kill()
            xclip.wait(timeout=10)

    def test_a_hung_clipboard_owner_neither_blocks_the_window_nor_stops_the_capture(self):
        self.capture('before')
        # The owner offers text for delayed rendering and never renders it.
        hung = subprocess.Popen(['wine', self.tool.path, 'hungclip', '30'], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            self.assertEqual(hung.stdout.readline().strip(), 'hung')
            for _ in range(5):  # over a second and more of ticks: each answer within wintool's 5 s
                self.assertEqual(self.slot_text(1), 'before')
            hung.kill()
            hung.wait(timeout=10)
            self.capture('after')
        finally:
            hung.kill()
            hung.wait(timeout=10)
            hung.stdout.close()
