// The service Varnel talks to inside GNOME Shell: the clipboard's text, the window the user last
// worked in and its activation, text committed through the shell's input method, and the paste and
// copy keys. It is offered on the session bus and answers only programs of the user running the shell.
//
// This file is the body of the extension; the build puts the imports of GNOME Shell 43/44 or of the
// module form of 45 and later before it, and the entry point after it.

const BusName = 'org.example.varnel.Shell';
const ObjectPath = '/org/example/varnel/Shell';
const InterfaceXml = `<node>
  <interface name="org.example.varnel.Shell1">
    <method name="GetClipboardText">
      <arg type="t" direction="out" name="serial"/>
      <arg type="b" direction="out" name="hasText"/>
      <arg type="s" direction="out" name="text"/>
    </method>
    <method name="SetClipboardText">
      <arg type="s" direction="in" name="text"/>
      <arg type="t" direction="out" name="serial"/>
    </method>
    <method name="ClearClipboard">
      <arg type="t" direction="out" name="serial"/>
    </method>
    <method name="ClipboardState">
      <arg type="t" direction="out" name="serial"/>
      <arg type="s" direction="out" name="setter"/>
    </method>
    <signal name="ClipboardChanged">
      <arg type="t" name="serial"/>
      <arg type="s" name="setter"/>
    </signal>
    <method name="LastWindow">
      <arg type="t" direction="out" name="window"/>
      <arg type="u" direction="out" name="focus"/>
      <arg type="s" direction="out" name="title"/>
      <arg type="s" direction="out" name="appId"/>
    </method>
    <method name="HasWindow">
      <arg type="t" direction="in" name="window"/>
      <arg type="b" direction="out" name="exists"/>
    </method>
    <method name="ActivateWindow">
      <arg type="t" direction="in" name="window"/>
      <arg type="b" direction="out" name="focused"/>
    </method>
    <method name="TextInputReady">
      <arg type="b" direction="out" name="ready"/>
    </method>
    <method name="CommitText">
      <arg type="s" direction="in" name="text"/>
    </method>
    <method name="PressPasteKey"/>
    <method name="PressCopyKey"/>
  </interface>
</node>`;

// What LastWindow says about the keyboard focus.
const FocusNone = 0;        // no window has it (the overview, the desktop)
const FocusOnWindow = 1;    // the window answered has it
const FocusOnCaller = 2;    // a window of the calling program has it

// Key codes of the chords (linux/input-event-codes.h).
const EvdevLeftCtrl = 29;
const EvdevLeftShift = 42;
const EvdevInsert = 110;

const ChordStepMs = 10;

const HistoryLength = 64;
// How long a commit waits for the focused window's text input.
const InputFocusBoundUs = 500 * 1000;
const InputFocusPollMs = 10;
const CredentialsBoundMs = 1000;
// How much clipboard text a caller may set in one call (the bus refuses far larger messages anyway).
const MaxTextLength = 64 * 1024 * 1024;
// Callers whose credentials were looked up; bus names are never reused, so the answers stay right.
const KnownCallersLimit = 128;
// Clipboard content that holds no text, for ClearClipboard.
const EmptyMimeType = 'application/x-varnel-empty';

// The answer to a call that disable() cut short.
function refuseStopped(invocation) {
    invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', 'the service has stopped');
}

class VarnelShellService {
    constructor() {
        this._ownUid = new Gio.Credentials().get_unix_user();
        this._callers = new Map();
        this._history = [];
        this._signals = [];
        this._serial = 0;
        this._setter = '';
        this._settingBy = null;
        this._keyboard = null;
        this._exported = null;
        this._nameId = 0;
        this._timeouts = new Map();  // the main loop sources of calls still under way -> their calls
        this._stopping = null;       // cancels the lookups of callers on disable()
    }

    enable() {
        this._stopping = new Gio.Cancellable();
        this._clipboard = St.Clipboard.get_default();
        // The chords' keyboard, made at once: a seat without any keyboard (a headless shell) gives no
        // window the keyboard focus, and a window without it takes no text from the input method.
        const seat = Clutter.get_default_backend().get_default_seat();
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        const selection = global.display.get_selection();
        this._connect(selection, 'owner-changed', (_selection, type) => {
            if (type === Meta.SelectionType.SELECTION_CLIPBOARD)
                this._clipboardChanged();
        });
        this._connect(global.display, 'notify::focus-window', () => this._focusChanged());
        for (const window of global.display.get_tab_list(Meta.TabList.NORMAL_ALL, null).reverse())
            this._remember(window);
        this._focusChanged();

        this._exported = Gio.DBusExportedObject.wrapJSObject(InterfaceXml, this);
        this._exported.export(Gio.DBus.session, ObjectPath);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BusName,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    // Calls still under way are answered at once, and those waiting for the caller's credentials
    // when they arrive; none of them acts any more (the shell disables extensions as it locks).
    disable() {
        this._stopping?.cancel();
        this._stopping = null;
        for (const [id, invocation] of this._timeouts) {
            GLib.source_remove(id);
            refuseStopped(invocation);
        }
        this._timeouts.clear();
        if (this._nameId !== 0)
            Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
        if (this._exported !== null)
            this._exported.unexport();
        this._exported = null;
        for (const [object, id] of this._signals)
            object.disconnect(id);
        this._signals = [];
        for (const entry of this._history)
            entry.window.disconnect(entry.unmanagedId);
        this._history = [];
        this._callers.clear();
        if (this._keyboard !== null)
            this._keyboard.run_dispose();
        this._keyboard = null;
        this._clipboard = null;
    }

    // Runs step every intervalMs, for the call invocation, until it returns false; disable() stops it
    // and answers the call.
    _repeat(invocation, intervalMs, step) {
        const id = GLib.timeout_add(GLib.PRIORITY_DEFAULT, intervalMs, () => {
            if (step())
                return GLib.SOURCE_CONTINUE;
            this._timeouts.delete(id);
            return GLib.SOURCE_REMOVE;
        });
        this._timeouts.set(id, invocation);
    }

    _connect(object, signal, handler) {
        this._signals.push([object, object.connect(signal, handler)]);
    }

    _clipboardChanged() {
        this._serial += 1;
        this._setter = this._settingBy ?? '';
        this._exported?.emit_signal('ClipboardChanged',
            new GLib.Variant('(ts)', [this._serial, this._setter]));
    }

    // The focus history, most recent first: windows leave it when they are unmanaged.
    _remember(window) {
        if (window === null)
            return;
        const at = this._history.findIndex(entry => entry.window === window);
        let entry;
        if (at >= 0) {
            [entry] = this._history.splice(at, 1);
        } else {
            entry = {window, unmanagedId: 0};
            entry.unmanagedId = window.connect('unmanaged', () => this._forget(window));
        }
        this._history.unshift(entry);
        while (this._history.length > HistoryLength) {
            const dropped = this._history.pop();
            dropped.window.disconnect(dropped.unmanagedId);
        }
    }

    _forget(window) {
        const at = this._history.findIndex(entry => entry.window === window);
        if (at >= 0) {
            const [entry] = this._history.splice(at, 1);
            entry.window.disconnect(entry.unmanagedId);
        }
    }

    _focusChanged() {
        this._remember(global.display.focus_window);
    }

    _findWindow(id) {
        for (const actor of global.get_window_actors()) {
            const window = actor.get_meta_window();
            if (window !== null && window.get_id() === id)
                return window;
        }
        return null;
    }

    // Calls the handler with the caller's process id when the caller runs as this user; answers
    // the call with an error otherwise.
    _fromUser(invocation, handler) {
        const sender = invocation.get_sender();
        const known = this._callers.get(sender);
        if (known !== undefined) {
            this._answer(invocation, known, handler);
            return;
        }
        const stopping = this._stopping;
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
            'GetConnectionCredentials', new GLib.Variant('(s)', [sender]), new GLib.VariantType('(a{sv})'),
            Gio.DBusCallFlags.NONE, CredentialsBoundMs, stopping, (connection, result) => {
                if (stopping.is_cancelled()) {
                    refuseStopped(invocation);
                    return;
                }
                let caller = {uid: -1, pid: 0};
                try {
                    const [credentials] = connection.call_finish(result).recursiveUnpack();
                    caller = {uid: credentials.UnixUserID ?? -1, pid: credentials.ProcessID ?? 0};
                } catch (e) {
                    logError(e, 'varnel: the caller could not be identified');
                }
                if (this._callers.size >= KnownCallersLimit)
                    this._callers.clear();
                this._callers.set(sender, caller);
                this._answer(invocation, caller, handler);
            });
    }

    _answer(invocation, caller, handler) {
        if (caller.uid !== this._ownUid) {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                'only programs of the user running the shell may call this service');
            return;
        }
        try {
            const reply = handler(caller);
            if (reply !== undefined)
                invocation.return_value(reply);
        } catch (e) {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', String(e));
        }
    }

    GetClipboardTextAsync(_params, invocation) {
        this._fromUser(invocation, () => {
            const serial = this._serial;
            const types = this._clipboard.get_mimetypes(St.ClipboardType.CLIPBOARD);
            if (!types.some(type => type.startsWith('text/plain') || type === 'UTF8_STRING' ||
                    type === 'STRING' || type === 'TEXT')) {
                return new GLib.Variant('(tbs)', [serial, false, '']);
            }
            this._clipboard.get_text(St.ClipboardType.CLIPBOARD, (_clipboard, text) => {
                invocation.return_value(new GLib.Variant('(tbs)', [serial, text !== null, text ?? '']));
            });
            return undefined;
        });
    }

    _setClipboard(invocation, set) {
        this._fromUser(invocation, () => {
            this._settingBy = invocation.get_sender();
            try {
                set();
            } finally {
                this._settingBy = null;
            }
            return new GLib.Variant('(t)', [this._serial]);
        });
    }

    SetClipboardTextAsync([text], invocation) {
        if (text.length > MaxTextLength) {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.LimitsExceeded', 'the text is too long');
            return;
        }
        this._setClipboard(invocation, () => this._clipboard.set_text(St.ClipboardType.CLIPBOARD, text));
    }

    ClearClipboardAsync(_params, invocation) {
        this._setClipboard(invocation, () => this._clipboard.set_content(St.ClipboardType.CLIPBOARD,
            EmptyMimeType, new GLib.Bytes(new Uint8Array(0))));
    }

    ClipboardStateAsync(_params, invocation) {
        this._fromUser(invocation, () => new GLib.Variant('(ts)', [this._serial, this._setter]));
    }

    LastWindowAsync(_params, invocation) {
        this._fromUser(invocation, caller => {
            const focused = global.display.focus_window;
            const entry = this._history.find(e => e.window.get_pid() !== caller.pid);
            let focus = FocusNone;
            if (focused !== null)
                focus = focused.get_pid() === caller.pid ? FocusOnCaller : FocusOnWindow;
            if (entry === undefined)
                return new GLib.Variant('(tuss)', [0, focus === FocusOnCaller ? focus : FocusNone, '', '']);
            const window = entry.window;
            if (focus === FocusOnWindow && focused !== window)
                focus = FocusNone;  // a window not in the history (yet)
            return new GLib.Variant('(tuss)', [window.get_id(), focus, window.get_title() ?? '',
                window.get_gtk_application_id() ?? window.get_wm_class() ?? '']);
        });
    }

    HasWindowAsync([id], invocation) {
        this._fromUser(invocation, () => new GLib.Variant('(b)', [this._findWindow(id) !== null]));
    }

    ActivateWindowAsync([id], invocation) {
        this._fromUser(invocation, () => {
            const window = this._findWindow(id);
            if (window === null)
                return new GLib.Variant('(b)', [false]);
            Main.activateWindow(window);
            return new GLib.Variant('(b)', [global.display.focus_window === window]);
        });
    }

    // Calls done(true) once the focused window's text input has the input method's focus, or
    // done(false) when it has not within the bound. A window gets that focus only once it has enabled
    // its text input, just after it got the keyboard focus; a window without one (an X11 window)
    // never gets it.
    _whenInputFocused(invocation, done) {
        const started = GLib.get_monotonic_time();
        const check = () => {
            if (this._inputFocused())
                done(true);
            else if (GLib.get_monotonic_time() - started >= InputFocusBoundUs)
                done(false);
            else
                return true;
            return false;
        };
        if (check())
            this._repeat(invocation, InputFocusPollMs, check);
    }

    TextInputReadyAsync(_params, invocation) {
        this._fromUser(invocation, () => {
            this._whenInputFocused(invocation,
                ready => invocation.return_value(new GLib.Variant('(b)', [ready])));
            return undefined;
        });
    }

    // The text goes to the input method's focus; a window that takes no text input gets nothing, and
    // the caller is told.
    CommitTextAsync([text], invocation) {
        this._fromUser(invocation, () => {
            this._whenInputFocused(invocation, ready => {
                if (ready) {
                    Main.inputMethod.commit(text);
                    invocation.return_value(new GLib.Variant('()', []));
                } else {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed',
                        'the focused window takes no text input');
                }
            });
            return undefined;
        });
    }

    // Whether a text input has the input method's focus. The shell's input method keeps it in a field
    // of its own; where that is missing (another shell version) the commit is simply tried.
    _inputFocused() {
        const method = Main.inputMethod;
        return !('_currentFocus' in method) || method._currentFocus !== null;
    }

    // A chord through a virtual keyboard of the shell's seat: the modifier, Insert, and both released.
    // Keys go by their evdev codes, the same in every layout. Each key event waits for a main loop
    // turn of its own: sent at once, the window saw Insert without the modifier.
    _pressChord(invocation, modifier) {
        this._fromUser(invocation, () => {
            const steps = [[modifier, Clutter.KeyState.PRESSED], [EvdevInsert, Clutter.KeyState.PRESSED],
                [EvdevInsert, Clutter.KeyState.RELEASED], [modifier, Clutter.KeyState.RELEASED]];
            const next = () => {
                const [key, state] = steps.shift();
                this._keyboard.notify_key(GLib.get_monotonic_time(), key, state);
                if (steps.length > 0)
                    return true;
                invocation.return_value(new GLib.Variant('()', []));
                return false;
            };
            this._repeat(invocation, ChordStepMs, next);
            return undefined;
        });
    }

    PressPasteKeyAsync(_params, invocation) {
        this._pressChord(invocation, EvdevLeftShift);
    }

    PressCopyKeyAsync(_params, invocation) {
        this._pressChord(invocation, EvdevLeftCtrl);
    }
}
