"""The accessibility tree as a screen reader sees it (AT-SPI on its own bus), and the keyboard alone:
names, descriptions and roles of every control and window, the reading order in every display mode,
the slot menu and the edit dialog from a key."""
import json
import os
import shutil
import signal
import subprocess
import sys
import unittest

from fixture import DesktopTestCase, Varnel, poll

LAUNCHER = '/usr/libexec/at-spi-bus-launcher'

# Runs in a process of its own: the AT-SPI client library binds to one bus for the life of a process.
DUMP = r'''
import json
import pyatspi

def node(acc, depth):
    states = acc.getState()
    out = {'role': acc.getRoleName(), 'name': acc.name or '', 'description': acc.description or '',
           'focusable': states.contains(pyatspi.STATE_FOCUSABLE),
           'focused': states.contains(pyatspi.STATE_FOCUSED),
           'showing': states.contains(pyatspi.STATE_SHOWING), 'children': [],
           'labelled_by': [t.name for r in acc.getRelationSet()
                           if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                           for t in (r.getTarget(i) for i in range(r.getNTargets())) if t is not None]}
    if depth < 5 and out['role'] not in ('text', 'combo box'):
        for i in range(acc.childCount):
            child = acc.getChildAtIndex(i)
            if child is not None:
                out['children'].append(node(child, depth + 1))
    return out

print(json.dumps([node(a, 0) for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == 'Varnel']))
'''


def atspi_python():
    """An interpreter that has the AT-SPI bindings: this one, or the system's."""
    for python in (sys.executable, '/usr/bin/python3'):
        # Looked up, not imported: importing would start a session bus of its own.
        probe = 'import importlib.util, sys; sys.exit(importlib.util.find_spec("pyatspi") is None)'
        if os.access(python, os.X_OK) and subprocess.run([python, '-c', probe], capture_output=True).returncode == 0:
            return python
    return None


def flatten(nodes):
    for n in nodes:
        yield n
        yield from flatten(n['children'])


class Accessibility(DesktopTestCase):
    def setUp(self):
        self.python = atspi_python()
        if self.python is None or not os.access(LAUNCHER, os.X_OK) or shutil.which('dbus-daemon') is None:
            raise unittest.SkipTest('AT-SPI (python3-pyatspi, at-spi2-core, dbus) is not installed')
        super().setUp()
        env = self.desktop.env
        bus = self.desktop.start(['dbus-daemon', '--session', '--nofork', '--print-address'], stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        env['DBUS_SESSION_BUS_ADDRESS'] = bus.stdout.readline().decode().strip()
        # The launcher starts the accessibility bus and the registry; they share its process group.
        launcher = self.desktop.start([LAUNCHER, '--launch-immediately'], start_new_session=True,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: self.stop_group(launcher))
        env['QT_LINUX_ACCESSIBILITY_ALWAYS_ON'] = '1'
        self.varnel = Varnel(self.desktop)

    @staticmethod
    def stop_group(process):
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass

    def tree(self):
        result = subprocess.run([self.python, '-c', DUMP], env=self.desktop.env, capture_output=True, timeout=30)
        return list(flatten(json.loads(result.stdout or b'[]')))

    def focused(self):
        return next((n['name'] for n in self.tree() if n['focused'] and n['role'] != 'frame'
                     and n['role'] != 'dialog' and n['role'] != 'filler'), None)

    def tab_through(self, count, key='Tab'):
        """Presses Tab count times and returns the name of the focused control after each press."""
        names = []
        for _ in range(count):
            before = self.focused()
            self.desktop.key(key)
            names.append(poll(lambda: (lambda f: f if f and f != before else None)(self.focused()), timeout=10,
                              what='the focus to move'))
        return names

    def assert_named_apart(self, nodes):
        """Every focusable control has a name of its own."""
        names = [n['name'] for n in nodes if n['focusable'] and n['role'] not in ('frame', 'dialog')]
        self.assertTrue(all(names), names)
        self.assertEqual(len(names), len(set(names)), names)

    def tab_stops(self):
        """The names Tab reaches, once round from the z-order button."""
        first = '常に手前に表示'
        self.desktop.activate(self.varnel.window)
        self.varnel.click_twips(120 + 187, 70 + 187)  # only a right press would open anything
        poll(lambda: self.focused() == first, timeout=10, what='the first button focused')
        stops = [first]
        while len(stops) < 45:
            name = self.tab_through(1)[0]
            if name == first:
                return stops
            stops.append(name)
        self.fail(f'Tab never came back round: {stops}')

    def test_every_control_is_named_apart_and_tab_reads_what_is_shown_row_by_row(self):
        nodes = poll(lambda: (lambda t: t if any(n['name'] == 'スロット 10' for n in t) else None)(self.tree()),
                     timeout=60, what='the main window in the accessibility tree')
        self.assertEqual([n['role'] for n in nodes if n['name'] == 'Varnel'], ['application', 'frame'])
        self.assert_named_apart(nodes)
        slots = [n for n in nodes if n['role'] == 'text']
        self.assertEqual([n['name'] for n in slots], [f'スロット {i}' for i in range(1, 11)])
        self.assertIn('F2', slots[0]['description'])
        copy = next(n for n in nodes if n['name'] == 'スロット 3 をコピー')
        self.assertEqual(copy['description'], '右の内容をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします')
        self.assertTrue(any(n['name'] == 'スロット 10 を送る' for n in nodes))

        # Five rows shown, the top row only, all ten rows: the top row's 9, then 3 per row shown.
        row = lambda i: [f'スロット {i} をコピー', f'スロット {i} を送る', f'スロット {i}']
        top = self.tab_stops()
        self.assertEqual(len(top), 24)
        self.assertEqual(top[9:], sum((row(i) for i in range(1, 6)), []))
        self.varnel.double_click_twips(40, 300)
        self.assertEqual(self.tab_stops(), top[:9])
        self.varnel.double_click_twips(40, 300)
        self.assertEqual(self.tab_stops(), top[:9] + sum((row(i) for i in range(1, 11)), []))

    def test_the_menu_key_opens_the_slot_menu(self):
        self.varnel.capture('abc')
        self.varnel.click_twips(960 + 300, 600 + 100)  # into slot 1
        def menu_shown():  # a popup menu is no child of the application in the tree: count windows
            return len(self.desktop.run(['xdotool', 'search', '--onlyvisible', '--class', 'varnel'],
                                        check=False).split()) > 1

        for key in ('Menu', 'shift+F10'):
            self.desktop.key(key)
            poll(menu_shown, timeout=10, what='the slot menu')
            self.desktop.run(['xdotool', 'key', 'Escape'])
            poll(lambda: not menu_shown(), timeout=10, what='the menu to close')
        self.desktop.key('Menu')
        poll(menu_shown, timeout=10, what='the slot menu')
        for key in ('Down', 'Down', 'Down', 'Down', 'Down', 'Return'):  # "大文字"
            self.desktop.run(['xdotool', 'key', key])
        poll(lambda: not menu_shown(), timeout=10, what='the menu to close')
        self.assertEqual(self.varnel.slot_text(1), 'ABC')

    def test_settings_dialog_is_named_and_read_top_to_bottom(self):
        self.varnel.click_twips(3240 + 187, 70 + 187)
        dialog = self.desktop.find_window('^Varnelの詳細設定$')
        self.desktop.activate(dialog)
        nodes = poll(lambda: (lambda t: t if any(n['role'] == 'combo box' for n in t) else None)(self.tree()),
                     timeout=60, what='the settings dialog in the accessibility tree')
        self.assertEqual([n['role'] for n in nodes if n['name'] == 'Varnelの詳細設定'], ['dialog'])
        self.assert_named_apart(nodes)
        # The combo box reads its number as its name; the label around it names it.
        combo = next(n for n in nodes if n['role'] == 'combo box')
        self.assertIn('割当て：\u30001～' + '\u3000' * 8 + 'まで', combo['labelled_by'])
        frames = {n['name'] for n in nodes if n['role'] in ('panel', 'grouping')}
        self.assertTrue({'ﾊﾞｰｼﾞｮﾝ情報', '貼付方法', 'クリップボードの自動取得', 'ウィンドウ表示', '内容消去'} <= frames)
        keystrokes = next(n for n in nodes if n['name'] == 'キーストロークの送信')
        self.assertIn('IME', keystrokes['description'])
        # Clicked onto the first option, then Tab: the frames from the top, the closing buttons last.
        self.desktop.click(dialog, (360 + 300) // 15, (960 + 360) // 15)
        poll(lambda: self.focused() == 'クリップボードのペースト', timeout=10, what='the first option focused')
        order = self.tab_through(6)
        self.assertEqual(order[:2], ['実行する', ' 1'])
        self.assertEqual(order[-3:], ['全消去実行', '決定', 'キャンセル'])

    def test_edit_dialog_opens_by_f2_and_stores_by_the_keyboard_alone(self):
        self.varnel.capture('abc')
        self.varnel.click_twips(960 + 500, 600 + 187)  # into slot 1
        self.desktop.key('F2')
        dialog = self.desktop.find_window('^テキストの編集（1）$')
        self.assertEqual([n['role'] for n in self.tree() if n['name'] == 'テキストの編集（1）'], ['dialog'])
        self.desktop.activate(dialog)
        poll(lambda: self.focused() == 'テキスト', timeout=10, what='the text box focused')
        self.desktop.key('End')
        self.desktop.run(['xdotool', 'type', 'def'])
        self.assertEqual(self.tab_through(2), ['Ｏ Ｋ', 'キャンセル'])
        self.desktop.key('shift+Tab')
        poll(lambda: self.focused() == 'Ｏ Ｋ', timeout=10, what='the OK button focused')
        self.desktop.key('Return')
        poll(lambda: not self.desktop.run(['xdotool', 'search', '--name', '^テキストの編集'], check=False).split(),
             timeout=10, what='the dialog to close')
        self.assertEqual(self.varnel.slot_text(1), 'abcdef')


if __name__ == '__main__':
    unittest.main()
