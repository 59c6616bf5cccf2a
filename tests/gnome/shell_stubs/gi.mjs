// Stand-ins for the libraries GNOME Shell hands its extensions as gi://NAME, as far as Varnel's extension
// uses them, and for the shell's `global`. A ledger keeps what the extension holds: bus names, exported
// objects, signal connections, main loop sources and virtual input devices. Where GJS or GLib refuse
// something (an unknown member or signal, a value of the wrong type, releasing what is not held), so do
// these: they throw, or note a fault the test reports.

export const ledger = {
    faults: [],
    names: new Map(),        // owner id -> bus name
    exported: new Map(),     // object path -> exported object
    connections: new Map(),  // handler id -> {object, signal, handler}
    sources: new Map(),      // source id -> callback
    devices: new Set(),
    tasks: [],               // replies the main loop has yet to deliver
    nextId: 1,
    // What is held now, by kind.
    held() {
        return {names: this.names.size, exported: this.exported.size, connections: this.connections.size,
            sources: this.sources.size, devices: this.devices.size};
    },
};

function fault(what) {
    ledger.faults.push(what);
}

// An object whose unknown members throw instead of reading as undefined, so that a misspelt name fails
// where it is used.
export function strict(what, members) {
    return new Proxy(members, {
        get(target, key) {
            if (typeof key === 'symbol' || key in target)
                return target[key];
            throw new TypeError(`${what}.${key} does not exist (or has no stand-in)`);
        },
    });
}

// The complete types of a D-Bus signature: 'ts' -> ['t', 's'], 'a{sv}b' -> ['a{sv}', 'b'].
export function splitSignature(signature) {
    const types = [];
    let depth = 0;
    let start = 0;
    for (let i = 0; i < signature.length; i++) {
        const c = signature[i];
        if (c === '(' || c === '{')
            depth++;
        else if (c === ')' || c === '}')
            depth--;
        if (depth === 0 && c !== 'a') {
            types.push(signature.slice(start, i + 1));
            start = i + 1;
        }
    }
    if (depth !== 0 || start !== signature.length)
        throw new TypeError(`'${signature}' is not a D-Bus signature`);
    return types;
}

function checkValue(type, value) {
    const fits = {
        b: () => typeof value === 'boolean',
        s: () => typeof value === 'string',
        t: () => Number.isSafeInteger(value) && value >= 0,
        u: () => Number.isSafeInteger(value) && value >= 0 && value <= 0xffffffff,
        a: () => typeof value === 'object' && value !== null,
        '(': () => {
            const parts = splitSignature(type.slice(1, -1));
            if (!Array.isArray(value) || value.length !== parts.length)
                return false;
            parts.forEach((part, i) => checkValue(part, value[i]));
            return true;
        },
    }[type[0]];
    if (fits === undefined || !fits())
        throw new TypeError(`${JSON.stringify(value)} is not a value of type '${type}'`);
}

class Variant {
    constructor(type, value) {
        checkValue(type, value);
        this._type = type;
        this._value = value;
    }

    get_type_string() {
        return this._type;
    }

    deepUnpack() {
        return this._value;
    }

    recursiveUnpack() {
        return this._value;
    }
}

// The main loop: each turn delivers the pending replies, then runs every source once. Time moves on by
// a fixed step per turn. As in GJS, a callback that throws is reported, and its source removed.
const TurnUs = 10 * 1000;
let clockUs = 1000 * 1000;

function dispatch(callback) {
    try {
        return callback();
    } catch (e) {
        fault(`a main loop callback threw ${e}`);
        return false;
    }
}

export function turn() {
    for (const task of ledger.tasks.splice(0))
        dispatch(task);
    for (const [id, callback] of [...ledger.sources]) {
        if (ledger.sources.has(id) && !dispatch(callback))
            ledger.sources.delete(id);
    }
    clockUs += TurnUs;
}

export const GLib = strict('GLib', {
    PRIORITY_DEFAULT: 0,
    SOURCE_CONTINUE: true,
    SOURCE_REMOVE: false,
    Variant,
    VariantType: class {
        constructor(type) {
            splitSignature(type);
        }
    },
    Bytes: class {
        constructor(data) {
            if (!ArrayBuffer.isView(data))
                throw new TypeError('GLib.Bytes takes a Uint8Array');
            this.data = data;
        }
    },
    get_monotonic_time: () => clockUs,
    timeout_add(priority, intervalMs, callback) {
        if (arguments.length !== 3 || !Number.isInteger(priority) || !Number.isInteger(intervalMs) ||
                typeof callback !== 'function')
            throw new TypeError('GLib.timeout_add takes (priority, interval, callback)');
        const id = ledger.nextId++;
        ledger.sources.set(id, callback);
        return id;
    },
    source_remove(id) {
        if (!ledger.sources.delete(id))
            fault(`GLib.source_remove(${id}): no such source`);
        return true;
    },
});

// An object with signals: connecting to a signal the object does not have throws, as in GJS.
class Emitter {
    constructor(signals) {
        this._signals = signals;
    }

    connect(signal, handler) {
        if (!this._signals.includes(signal))
            throw new TypeError(`${this.constructor.name} has no signal '${signal}'`);
        if (typeof handler !== 'function')
            throw new TypeError('a signal handler must be a function');
        const id = ledger.nextId++;
        ledger.connections.set(id, {object: this, signal, handler});
        return id;
    }

    disconnect(id) {
        if (ledger.connections.get(id)?.object !== this)
            fault(`${this.constructor.name}.disconnect(${id}): no such handler on this object`);
        ledger.connections.delete(id);
    }

    emit(signal, ...args) {
        for (const {object, signal: name, handler} of [...ledger.connections.values()]) {
            if (object === this && name === signal)
                handler(this, ...args);
        }
    }
}

class Cancellable {
    constructor() {
        this._cancelled = false;
    }

    cancel() {
        this._cancelled = true;
    }

    is_cancelled() {
        return this._cancelled;
    }
}

// The session bus: it tells who calls (the test names the callers) and nothing else.
export const callers = new Map();  // unique bus name -> {uid, pid}
const session = {
    call(name, path, iface, method, parameters, replyType, flags, timeoutMs, cancellable, callback) {
        if (arguments.length !== 10 || typeof callback !== 'function')
            throw new TypeError('Gio.DBusConnection.call takes ten arguments, the last a callback');
        if (`${name} ${path} ${iface} ${method}` !==
                'org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus GetConnectionCredentials')
            throw new TypeError(`no stand-in for the bus call ${iface}.${method}`);
        if (!(parameters instanceof Variant) || !Number.isInteger(timeoutMs) || timeoutMs <= 0 ||
                !(cancellable === null || cancellable instanceof Cancellable))
            throw new TypeError('a bus call takes a Variant, a bound in milliseconds and a Gio.Cancellable');
        const [sender] = parameters.deepUnpack();
        // The reply comes on a later turn of the loop, cancelled or not.
        ledger.tasks.push(() => callback(session, cancellable?.is_cancelled() ? null : sender));
    },
    call_finish(sender) {
        if (sender === null)
            throw new Error('Gio.IOErrorEnum: Operation was cancelled');
        const caller = callers.get(sender);
        if (caller === undefined)
            throw new Error(`GDBus.Error:org.freedesktop.DBus.Error.NameHasNoOwner: ${sender}`);
        return new Variant('(a{sv})', [{UnixUserID: caller.uid, ProcessID: caller.pid}]);
    },
};

// The interface of the node XML an object is exported with, as GJS takes it: the first interface.
function parseInterfaceXml(xml) {
    const info = {name: undefined, methods: new Map(), signals: new Map()};
    const open = [];
    let member = null;
    const tags = /<(\/?)([\w:]+)([^>]*?)(\/?)>/g;
    for (const [, closing, tag, attributeText, selfClosing] of xml.matchAll(tags)) {
        if (closing) {
            if (open.pop() !== tag)
                throw new SyntaxError(`the interface XML closes <${tag}> out of turn`);
            continue;
        }
        const attributes = Object.fromEntries(
            [...attributeText.matchAll(/([\w:]+)="([^"]*)"/g)].map(m => [m[1], m[2]]));
        if (tag !== 'node' && tag !== 'arg' && attributes.name === undefined)
            throw new SyntaxError(`<${tag}> without a name in the interface XML`);
        if (tag === 'interface') {
            info.name ??= attributes.name;
        } else if (tag === 'method' || tag === 'signal') {
            member = {in: [], out: []};
            info[`${tag}s`].set(attributes.name, member);
        } else if (tag === 'arg') {
            splitSignature(attributes.type ?? '');
            member[open.at(-1) === 'signal' ? 'out' : attributes.direction ?? 'in'].push(attributes.type);
        }
        if (!selfClosing)
            open.push(tag);
    }
    if (open.length > 0)
        throw new SyntaxError(`the interface XML leaves <${open.at(-1)}> open`);
    return info;
}

// A method call as it reaches the object: answered once, with a value of the method's out signature.
class Invocation {
    constructor(sender, outSignature) {
        this._sender = sender;
        this._outSignature = `(${outSignature})`;
        this.reply = null;
    }

    get_sender() {
        return this._sender;
    }

    _answer(reply) {
        if (this.reply !== null)
            fault(`a call was answered twice: ${JSON.stringify(reply)} after ${JSON.stringify(this.reply)}`);
        this.reply ??= reply;
    }

    return_value(variant) {
        if (variant.get_type_string() !== this._outSignature)
            fault(`a reply of type '${variant.get_type_string()}' where '${this._outSignature}' is declared`);
        this._answer({value: variant.deepUnpack()});
    }

    return_dbus_error(name, message) {
        this._answer({error: name, message});
    }
}

class ExportedObject {
    constructor(xml, impl) {
        this.info = parseInterfaceXml(xml);
        this.impl = impl;
        this.path = null;
        this.emitted = [];
    }

    export(connection, path) {
        if (connection !== session || typeof path !== 'string' || this.path !== null ||
                ledger.exported.has(path))
            throw new Error(`cannot export an object at ${path}`);
        this.path = path;
        ledger.exported.set(path, this);
    }

    unexport() {
        if (this.path === null)
            fault('unexport of an object that is not exported');
        ledger.exported.delete(this.path);
        this.path = null;
    }

    emit_signal(name, variant) {
        const signal = this.info.signals.get(name);
        if (signal === undefined)
            throw new Error(`the interface has no signal ${name}`);
        if (variant.get_type_string() !== `(${signal.out.join('')})`)
            throw new TypeError(`signal ${name} of type '${variant.get_type_string()}'`);
        this.emitted.push([name, variant.deepUnpack()]);
    }

    // A call from the bus, handed over as GJS does: to the method of the call's name if the object has
    // one, else to the one with Async appended, else answered with an error.
    call(method, args, sender) {
        const declared = this.info.methods.get(method);
        if (declared === undefined)
            throw new Error(`the interface has no method ${method}`);
        const invocation = new Invocation(sender, declared.out.join(''));
        if (typeof this.impl[method] === 'function') {
            const reply = this.impl[method](...args);
            invocation.return_value(reply instanceof Variant ? reply : new Variant(invocation._outSignature,
                declared.out.length === 1 ? [reply] : reply ?? []));
        } else if (typeof this.impl[`${method}Async`] === 'function') {
            this.impl[`${method}Async`](args, invocation);
        } else {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.UnknownMethod',
                `${method} is not implemented`);
        }
        return invocation;
    }
}

function strictEnum(what, values) {
    return strict(what, Object.freeze(values));
}

export const Gio = strict('Gio', {
    Cancellable,
    Credentials: class {
        get_unix_user() {
            return process.getuid();
        }
    },
    DBus: strict('Gio.DBus', {session}),
    BusNameOwnerFlags: strictEnum('Gio.BusNameOwnerFlags',
        {NONE: 0, ALLOW_REPLACEMENT: 1, REPLACE: 2, DO_NOT_QUEUE: 4}),
    DBusCallFlags: strictEnum('Gio.DBusCallFlags', {NONE: 0, NO_AUTO_START: 1}),
    DBusExportedObject: strict('Gio.DBusExportedObject', {
        wrapJSObject: (xml, impl) => new ExportedObject(xml, impl),
    }),
    bus_own_name_on_connection(connection, name, flags, acquired, lost) {
        const busName = /^[A-Za-z_][\w-]*(\.[A-Za-z_][\w-]*)+$/;
        if (arguments.length !== 5 || connection !== session || !busName.test(name) ||
                !Number.isInteger(flags))
            throw new TypeError(`Gio.bus_own_name_on_connection(${[...arguments].join(', ')})`);
        const id = ledger.nextId++;
        ledger.names.set(id, name);
        return id;
    },
    bus_unown_name(id) {
        if (!ledger.names.delete(id))
            fault(`Gio.bus_unown_name(${id}): no such owner id`);
    },
});

export const Meta = strict('Meta', {
    SelectionType: strictEnum('Meta.SelectionType',
        {SELECTION_PRIMARY: 0, SELECTION_CLIPBOARD: 1, SELECTION_DND: 2}),
    TabList: strictEnum('Meta.TabList', {NORMAL: 0, DOCKS: 1, GROUP: 2, NORMAL_ALL: 3}),
});

export class Window extends Emitter {
    constructor({id, pid, title, appId = null, wmClass = null}) {
        super(['unmanaged', 'focus', 'notify::title']);
        this.get_id = () => id;
        this.get_pid = () => pid;
        this.get_title = () => title;
        this.get_gtk_application_id = () => appId;
        this.get_wm_class = () => wmClass;
    }
}

class Display extends Emitter {
    constructor() {
        super(['notify::focus-window', 'window-created']);
        this.selection = new (class Selection extends Emitter {})(['owner-changed']);
        this.windows = [];
        this.focus_window = null;
    }

    get_selection() {
        return this.selection;
    }

    get_tab_list(type, workspace) {
        if (!Object.values(Meta.TabList).includes(type) || workspace !== null)
            throw new TypeError('Meta.Display.get_tab_list(type, workspace)');
        return [...this.windows];
    }

    focus(window) {
        this.focus_window = window;
        this.emit('notify::focus-window');
    }
}

// The shell's `global`: the display and the window actors.
export const shellGlobal = strict('global', {
    display: new Display(),
    get_window_actors() {
        return this.display.windows.map(window => ({get_meta_window: () => window}));
    },
});

class VirtualDevice {
    constructor() {
        this.keys = [];
    }

    notify_key(timeUs, key, state) {
        if (!ledger.devices.has(this))
            fault('a key sent through a disposed virtual device');
        if (!Number.isInteger(timeUs) || !Number.isInteger(key) ||
                !Object.values(Clutter.KeyState).includes(state))
            throw new TypeError('Clutter.VirtualInputDevice.notify_key(time, key, state)');
        this.keys.push([key, state]);
    }

    run_dispose() {
        if (!ledger.devices.delete(this))
            fault('run_dispose of a virtual device that is not held');
    }
}

export const Clutter = strict('Clutter', {
    InputDeviceType: strictEnum('Clutter.InputDeviceType', {POINTER_DEVICE: 0, KEYBOARD_DEVICE: 1}),
    KeyState: strictEnum('Clutter.KeyState', {RELEASED: 0, PRESSED: 1}),
    get_default_backend: () => strict('Clutter.Backend', {
        get_default_seat: () => strict('Clutter.Seat', {
            create_virtual_device(type) {
                if (!Object.values(Clutter.InputDeviceType).includes(type))
                    throw new TypeError(`no input device type ${type}`);
                const device = new VirtualDevice();
                ledger.devices.add(device);
                return device;
            },
        }),
    }),
});

// The clipboard: what a program set last; setting it changes the selection's owner, as in mutter.
const clipboard = {
    mimeType: null,
    text: null,
    get_mimetypes(type) {
        return type === St.ClipboardType.CLIPBOARD && this.mimeType !== null ? [this.mimeType] : [];
    },
    get_text(type, callback) {
        const text = type === St.ClipboardType.CLIPBOARD ? this.text : null;
        ledger.tasks.push(() => callback(this, text));
    },
    _set(type, mimeType, text) {
        if (type !== St.ClipboardType.CLIPBOARD)
            throw new TypeError('only the clipboard has a stand-in');
        Object.assign(this, {mimeType, text});
        shellGlobal.display.selection.emit('owner-changed', Meta.SelectionType.SELECTION_CLIPBOARD, null);
    },
    set_text(type, text) {
        this._set(type, 'text/plain;charset=utf-8', text);
    },
    set_content(type, mimeType, bytes) {
        if (!(bytes instanceof GLib.Bytes))
            throw new TypeError('St.Clipboard.set_content takes GLib.Bytes');
        this._set(type, mimeType, null);
    },
};

export const St = strict('St', {
    ClipboardType: strictEnum('St.ClipboardType', {PRIMARY: 0, CLIPBOARD: 1}),
    Clipboard: strict('St.Clipboard', {get_default: () => strict('St.Clipboard', clipboard)}),
});

const namespaces = {Clutter, Gio, GLib, Meta, St};

// What `import X from 'gi://X'` yields.
export function namespace(name) {
    if (!(name in namespaces))
        throw new Error(`gi://${name} has no stand-in`);
    return namespaces[name];
}
