// Loads both forms of Varnel's GNOME Shell extension as the shell would, on the stand-ins of
// shell_stubs/, and checks what only running them shows: the module form links and its default export
// is an Extension; the service offers on the bus what Varnel's GNOME backend calls (read from the
// backend's source); it answers those calls with the types it declares, and only to programs of the
// same user; disable() gives back every bus name, exported object, signal connection, main loop source
// and virtual device that enable() and the calls took, also in the middle of a call.
//
//   node extension_load_test.mjs BUILD/gnome-extension SOURCE/platform/gnome

import assert from 'node:assert/strict';
import {readFileSync} from 'node:fs';
import * as nodeModule from 'node:module';
import {test} from 'node:test';
import {pathToFileURL} from 'node:url';
import vm from 'node:vm';

import {callers, Clutter, Gio, GLib, ledger, Meta, shellGlobal, splitSignature, St, strict, turn, Window} from
    './shell_stubs/gi.mjs';

if (typeof nodeModule.register !== 'function') {
    console.log('# skipped: this node has no module hooks (18.19 or later has)');
    process.exit(77);
}
nodeModule.register('./shell_stubs/loader.mjs', import.meta.url);
const Main = await import('resource:///org/gnome/shell/ui/main.js');
const {Extension} = await import('resource:///org/gnome/shell/extensions/extension.js');

const [extensionBuild, backendSource] = process.argv.slice(2);

// What the backend expects of the service, from its source: the names, the methods it calls with the
// types of their arguments, and the signals it listens to with theirs.
const QtBusTypes = {qulonglong: 't', QString: 's', bool: 'b', uint: 'u'};

function busType(argument) {
    const type = /fromValue<(\w+)>/.exec(argument)?.[1] ??
        /\b(QString|qulonglong|bool|uint)\b/.exec(argument)?.[1];
    assert.ok(type in QtBusTypes, `the bus type of the backend's argument '${argument}'`);
    return QtBusTypes[type];
}

function backendContract() {
    const header = readFileSync(`${backendSource}/GnomeShell.h`, 'utf8');
    const source = readFileSync(`${backendSource}/GnomeShell.cpp`, 'utf8');
    const constant = (text, name) => {
        const value = new RegExp(`\\b${name} = "([^"]+)"`).exec(text)?.[1];
        assert.ok(value, `the backend's ${name}`);
        return value;
    };
    const types = args => (args?.trim() ? args.split(',').map(busType).join('') : '');
    const methods = new Map();
    const calls = /\bcall\(\s*QStringLiteral\("(\w+)"\)(?:,\s*\{([^}]*)\})?\)/g;
    for (const [, name, args] of source.matchAll(calls))
        methods.set(name, types(args));
    const signals = new Map();
    const connections = /QStringLiteral\("(\w+)"\),\s*this,\s*SLOT\(\w+\(([^)]*)\)\)/g;
    for (const [, name, args] of source.matchAll(connections))
        signals.set(name, types(args));
    assert.ok(methods.size > 0 && signals.size > 0, 'the backend source names no calls or no signals');
    return {
        busName: constant(header, 'ServiceName'),
        objectPath: constant(source, 'ObjectPath'),
        interfaceName: constant(source, 'Interface'),
        methods,
        signals,
    };
}

// The desktop: two windows, one focused, and three callers on the bus, one of them another user's.
const Editor = new Window({id: 7, pid: 300, title: 'メモ', appId: 'org.example.Editor'});
const Terminal = new Window({id: 9, pid: 301, title: 'xterm', wmClass: 'XTerm'});
shellGlobal.display.windows.push(Editor, Terminal);
shellGlobal.display.focus_window = Editor;
const OwnCaller = ':1.10';
const OtherUser = ':1.11';
const LateCaller = ':1.12';
callers.set(OwnCaller, {uid: process.getuid(), pid: 400});
callers.set(OtherUser, {uid: process.getuid() + 1, pid: 401});
callers.set(LateCaller, {uid: process.getuid(), pid: 402});
const SampleArguments = {t: Editor.get_id(), s: '日本語\nテキスト', b: true, u: 1};
const logged = [];
const logError = (error, message) => logged.push(`${message}: ${error}`);

const Unheld = {names: 0, exported: 0, connections: 0, sources: 0, devices: 0};

// Runs the main loop until the call is answered.
function answer(invocation) {
    for (let turns = 0; invocation.reply === null && turns < 1000; turns++)
        turn();
    assert.ok(invocation.reply !== null, 'a call was never answered');
    return invocation.reply;
}

function formFolder(form) {
    return `${extensionBuild}/${form}`;
}

function metadata(form) {
    return {...JSON.parse(readFileSync(`${formFolder(form)}/metadata.json`, 'utf8')), path: formFolder(form)};
}

async function loadModuleForm() {
    Object.assign(globalThis, {display: shellGlobal.display, get_window_actors: shellGlobal.get_window_actors,
        logError});
    const module = await import(pathToFileURL(`${formFolder(45)}/extension.js`).href);
    assert.equal(typeof module.default, 'function', 'the module has no default export');
    assert.ok(module.default.prototype instanceof Extension, 'the default export does not extend Extension');
    return new module.default(metadata(45));
}

function loadScriptForm() {
    const context = vm.createContext({
        imports: strict('imports', {
            gi: strict('imports.gi', {Clutter, Gio, GLib, Meta, St}),
            ui: strict('imports.ui', {main: Main}),
        }),
        global: shellGlobal,
        logError,
    });
    const file = `${formFolder(43)}/extension.js`;
    vm.runInContext(readFileSync(file, 'utf8'), context, {filename: file});
    assert.equal(typeof context.init, 'function', 'the script has no init()');
    return context.init(metadata(43));
}

function checkOffersWhatTheBackendCalls(contract) {
    assert.deepEqual([...ledger.names.values()], [contract.busName], 'the bus names owned');
    const exported = ledger.exported.get(contract.objectPath);
    assert.ok(exported, `nothing exported at ${contract.objectPath}`);
    assert.equal(exported.info.name, contract.interfaceName);
    for (const [name, inTypes] of contract.methods) {
        assert.equal(exported.info.methods.get(name)?.in.join(''), inTypes, `the arguments of ${name}`);
        assert.ok([name, `${name}Async`].some(handler => typeof exported.impl[handler] === 'function'),
            `no handler for ${name}`);
    }
    for (const [name, types] of contract.signals)
        assert.equal(exported.info.signals.get(name)?.out.join(''), types, `signal ${name}`);
    return exported;
}

// Every call of the backend, from the user's program and from another user's.
function checkAnswersTheCalls(exported, contract) {
    Main.inputMethod._currentFocus = {};
    for (const [name, inTypes] of contract.methods) {
        const args = splitSignature(inTypes).map(type => SampleArguments[type]);
        const reply = answer(exported.call(name, args, OwnCaller));
        assert.ok('value' in reply, `${name}: ${reply.message}`);
        assert.equal(answer(exported.call(name, args, OtherUser)).error,
            'org.freedesktop.DBus.Error.AccessDenied', `${name} from another user`);
    }
    assert.ok(exported.emitted.some(([name]) => contract.signals.has(name)),
        'no clipboard change was signalled');
}

async function checkForm(makeService) {
    const contract = backendContract();
    ledger.faults.length = 0;
    logged.length = 0;
    const service = await makeService();
    assert.deepEqual(ledger.held(), Unheld, 'what loading and making the extension took before enable()');
    for (let round = 1; round <= 2; round++) {
        service.enable();
        const held = ledger.held();
        assert.ok(held.connections > 0, `enable() took ${JSON.stringify(held)}`);
        const exported = checkOffersWhatTheBackendCalls(contract);
        checkAnswersTheCalls(exported, contract);
        // A window closes, another program sets the clipboard, and calls are under way: two waiting
        // on the loop, two on the caller's credentials. The bus still delivers those after disable(),
        // which must answer them all at once and act on none (no commit into the lock screen).
        Terminal.emit('unmanaged');
        St.Clipboard.get_default().set_text(St.ClipboardType.CLIPBOARD, 'copied elsewhere');
        Main.inputMethod._currentFocus = null;
        const underWay = [exported.call('TextInputReady', [], OwnCaller),
            exported.call('PressPasteKey', [], OwnCaller)];
        turn();
        turn();
        assert.ok(ledger.sources.size > 0, 'no call was under way at disable()');
        Main.inputMethod._currentFocus = {};
        underWay.push(exported.call('CommitText', ['late'], LateCaller),
            exported.call('ActivateWindow', [Terminal.get_id()], LateCaller));
        service.disable();
        const focused = shellGlobal.display.focus_window;
        for (const invocation of underWay)
            assert.ok('error' in answer(invocation), 'a call under way at disable() was answered with a value');
        assert.ok(!Main.inputMethod.committed.includes('late'), 'text committed after disable()');
        assert.equal(shellGlobal.display.focus_window, focused, 'a window activated after disable()');
        assert.deepEqual(ledger.held(), Unheld, `what disable() left held in round ${round}`);
        assert.deepEqual(ledger.faults, []);
        assert.deepEqual(logged, []);
    }
}

test('the GNOME Shell 45+ module links, serves the backend and releases all it held', () =>
    checkForm(loadModuleForm));

test('the GNOME Shell 43/44 script serves the backend and releases all it held', () =>
    checkForm(loadScriptForm));
