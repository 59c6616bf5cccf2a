// Stand-in for the shell's resource:///org/gnome/shell/extensions/extension.js: the base class of an
// extension's default export, made with the extension's metadata.
export class Extension {
    constructor(metadata) {
        if (new.target === Extension)
            throw new TypeError('Extension is a base class');
        if (typeof metadata?.uuid !== 'string' || typeof metadata.path !== 'string')
            throw new TypeError('an extension is made with its metadata');
        this.metadata = metadata;
    }

    get uuid() {
        return this.metadata.uuid;
    }

    get path() {
        return this.metadata.path;
    }

    enable() {
    }

    disable() {
    }
}
