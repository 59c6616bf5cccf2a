
export default class VarnelShellExtension extends Extension {
    enable() {
        this._service = new VarnelShellService();
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}
