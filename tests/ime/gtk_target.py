#!/usr/bin/env python3
"""A GTK3 text window for the input method, Wayland and GNOME tests: gtk_target.py TITLE OUT [INITIAL].
Its text goes to OUT at start and after every change; INITIAL starts it, selected. On SIGUSR1 it puts
the text of OUT.copy on the clipboard, as a copy in it would."""
import os
import signal
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

title, out = sys.argv[1], sys.argv[2]
window = Gtk.Window(title=title)
window.set_default_size(400, 200)
view = Gtk.TextView()
buffer = view.get_buffer()


def changed(_):
    text = buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)
    with open(out + ".new", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(out + ".new", out)


def copy():
    with open(out + ".copy", encoding="utf-8") as f:
        Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).set_text(f.read(), -1)
    return GLib.SOURCE_CONTINUE


if len(sys.argv) > 3:
    buffer.set_text(sys.argv[3])
    buffer.select_range(buffer.get_start_iter(), buffer.get_end_iter())
changed(None)
buffer.connect("changed", changed)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, copy)
window.add(view)
window.connect("destroy", Gtk.main_quit)
window.show_all()
view.grab_focus()
Gtk.main()
