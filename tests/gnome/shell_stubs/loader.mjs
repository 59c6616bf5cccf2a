// Module hooks that load an extension as GNOME Shell 45 and later does, with the stand-ins of this
// folder for what the shell provides: gi://NAME from gi.mjs, resource:///org/gnome/shell/PATH from the
// file at PATH here (a module the shell does not have, or that has no stand-in yet, fails the import),
// and extension.js as an ES module whatever its folder says.
import {existsSync} from 'node:fs';

const here = new URL('./', import.meta.url);
const ShellResources = 'resource:///org/gnome/shell/';

export async function resolve(specifier, context, next) {
    if (specifier.startsWith('gi://'))
        return {url: specifier, shortCircuit: true};
    if (specifier.startsWith(ShellResources)) {
        const url = new URL(specifier.slice(ShellResources.length), here);
        if (!url.href.startsWith(here.href) || !existsSync(url))
            throw new Error(`${specifier}: no such module in GNOME Shell (or no stand-in for it)`);
        return {url: url.href, format: 'module', shortCircuit: true};
    }
    const resolved = await next(specifier, context);
    return resolved.url.endsWith('/extension.js') ? {...resolved, format: 'module'} : resolved;
}

export async function load(url, context, next) {
    if (!url.startsWith('gi://'))
        return next(url, context);
    const name = url.slice('gi://'.length).split('?')[0];
    const stubs = JSON.stringify(new URL('gi.mjs', here).href);
    return {
        format: 'module',
        shortCircuit: true,
        source: `import {namespace} from ${stubs};\nexport default namespace(${JSON.stringify(name)});\n`,
    };
}
