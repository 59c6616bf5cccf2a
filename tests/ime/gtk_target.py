#!/usr/bin/env python3
"""A GTK3 text window for the input method and Wayland tests: its text goes to a file after every
change. Arguments: TITLE OUTPUT_FILE [INITIAL_TEXT, selected at start]."""
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

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


if len(sys.argv) > 3:
    buffer.set_text(sys.argv[3])
    buffer.select_range(buffer.get_start_iter(), buffer.get_end_iter())
changed(None)
buffer.connect("changed", changed)
window.add(view)
window.connect("destroy", Gtk.main_quit)
window.show_all()
view.grab_focus()
Gtk.main()
