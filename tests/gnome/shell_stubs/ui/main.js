// Stand-in for the shell's resource:///org/gnome/shell/ui/main.js: window activation and the input
// method, which takes text only while a text input has its focus.
import {shellGlobal} from '../gi.mjs';

export function activateWindow(window) {
    shellGlobal.display.focus(window);
}

export const inputMethod = {
    _currentFocus: null,
    committed: [],
    commit(text) {
        if (typeof text !== 'string')
            throw new TypeError('the input method commits strings');
        this.committed.push(text);
    },
};
