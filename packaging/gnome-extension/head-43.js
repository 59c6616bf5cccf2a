// GNOME Shell 43 and 44: a script with init() returning the object that is enabled and disabled.
const {Clutter, Gio, GLib, Meta, St} = imports.gi;
const Main = imports.ui.main;

