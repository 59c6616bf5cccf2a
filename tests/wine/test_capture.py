import subprocess

from fixture import VarnelSession, needs_backends


@needs_backends
class Capture(VarnelSession):
    def test_text_set_by_another_windows_program_and_by_an_x11_client(self):
        self.capture('Windows側のテキスト ｶﾅ 😀\r\n2行目')
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
