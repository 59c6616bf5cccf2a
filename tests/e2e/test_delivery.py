import os
import subprocess
import tempfile
import unittest

from fixture import DesktopTestCase, TkTarget, Varnel, poll, write_slot_file


class Delivery(DesktopTestCase):
    def start(self, sections):
        folder = tempfile.mkdtemp(prefix='varnel-e2e-')
        path = os.path.join(folder, 'slots.txt')
        write_slot_file(path, sections)
        return Varnel(self.desktop, [path])

    def test_fifty_pastes_in_a_row_arrive_exactly_and_the_clipboard_is_restored(self):
        first, second = 'first slot: ひらがな 漢字 +^%~(){}[]', 'second slot ｶﾀｶﾅ'
        varnel = self.start({1: [f'"{first}"'], 2: [second]})
        target = TkTarget(self.desktop)
        target.activate()
        varnel.wait_for_target(target.window)
        wrong, lost_clicks = [], 0
        for n in range(50):
            slot, expected = (1, first) if n % 2 == 0 else (2, second)
            target.set_text('')
            owned = self.desktop.clipboard_timestamp()
            varnel.click_send(slot)
            try:
                target.wait_for_text(expected, timeout=5)
            except TimeoutError:
                # Under load fluxbox now and then never passed a click on to Varnel: nothing was sent and
                # the clipboard never changed hands. Such a click is made again; any other miss counts.
                if self.desktop.clipboard_timestamp() == owned and target.text() == '' and lost_clicks < 2:
                    lost_clicks += 1
                    varnel.click_send(slot)
                    try:
                        target.wait_for_text(expected, timeout=5)
                        continue
                    except TimeoutError:
                        pass
                wrong.append((n, target.text()[:80]))
        self.assertEqual(wrong, [])
        # Capture is off after a slot file, so LastClipboardText is empty: the clipboard holds "". The
        # target can show the text before the send has put it back.
        poll(lambda: self.desktop.clipboard() == '', what='the restored clipboard')

    def test_a_megabyte_pastes_whole(self):
        big = ''.join(chr(0x3041 + (i % 80)) if i % 97 else 'x' for i in range(350_000))  # ~1 MB in UTF-8
        varnel = self.start({3: [big]})
        target = TkTarget(self.desktop)
        target.activate()
        varnel.wait_for_target(target.window)
        varnel.click_send(3)
        poll(lambda: len(target.text()) == len(big), timeout=20, interval=0.2, what='the whole text')
        self.assertEqual(target.text(), big)

    def test_paste_into_a_terminal(self):
        varnel = self.start({1: ['echo from varnel']})
        folder = tempfile.mkdtemp(prefix='varnel-term-')
        out = os.path.join(folder, 'typed')
        self.desktop.start(['xterm', '-T', 'Varnel terminal', '-e', 'sh', '-c', f'stty -icanon -echo; cat > {out}'],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        terminal = self.desktop.find_window('^Varnel terminal$', timeout=30)
        self.desktop.activate(terminal)
        varnel.wait_for_target(terminal)
        varnel.click_send(1)
        poll(lambda: os.path.exists(out) and open(out, encoding='utf-8').read() == 'echo from varnel',
             timeout=10, what='the text in the terminal')

    def test_closed_target_makes_send_do_nothing_and_capture_goes_on(self):
        varnel = Varnel(self.desktop)
        target = TkTarget(self.desktop)
        target.activate()
        varnel.wait_for_target(target.window)
        target.process.kill()
        target.process.wait()
        # Our own window is in front now; the target no longer exists.
        varnel.click_send(1)
        varnel.capture('still capturing')
        self.assertEqual(varnel.slot_text(1), 'still capturing')

    def test_copy_button_puts_the_slot_on_the_clipboard(self):
        varnel = self.start({4: ['line one', 'line two']})
        self.assertEqual(varnel.slot_text(4), 'line one\r\nline two')


if __name__ == '__main__':
    unittest.main()
