
function init() {
    return new VarnelShellService();
}
