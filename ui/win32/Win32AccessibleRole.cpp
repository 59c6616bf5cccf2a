#include "ui/win32/Win32AccessibleRole.h"

// After windows.h:
#include <oleacc.h>

#include <memory>

namespace varnel::win32ui {

namespace {

// The system's client object with another role for the client area itself. Children, names, states,
// locations and navigation stay the system's. Other interfaces a reader asks for (the children's
// enumeration, the window behind the object) come from the system's object directly.
class ClientWithRole final : public IAccessible {
  public:
    ClientWithRole(IAccessible* system, long role) : system_(system), role_(role) {}
    ClientWithRole(const ClientWithRole&) = delete;
    ClientWithRole& operator=(const ClientWithRole&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        return system_->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            const std::unique_ptr<ClientWithRole> last(this);  // COM: the last reference ends the object
        }
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (child.vt == VT_I4 && child.lVal == CHILDID_SELF && role != nullptr) {
            VariantInit(role);
            role->vt = VT_I4;
            role->lVal = role_;
            return S_OK;
        }
        return system_->get_accRole(child, role);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return system_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return system_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return system_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* wrong) override {
        return system_->Invoke(id, iid, locale, flags, parameters, result, exception, wrong);
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return system_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        return system_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return system_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return system_->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return system_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return system_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return system_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return system_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return system_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return system_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focused) override {
        return system_->get_accFocus(focused);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selected) override {
        return system_->get_accSelection(selected);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return system_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long how, VARIANT child) override {
        return system_->accSelect(how, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        return system_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return system_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        return system_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return system_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return system_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return system_->put_accValue(child, value);
    }

  private:
    ~ClientWithRole() { system_->Release(); }
    friend struct std::default_delete<ClientWithRole>;

    IAccessible* system_;  // owned: one reference
    long role_;
    LONG references_ = 1;
};

// A frame is MSAA's window role, the role of a top-level window with its title bar and client area,
// which readers announce as a window (UI Automation: the Window control type). The application role
// would not do: readers take it for a web-style application region and change how keys reach it.
long MsaaRole(WindowRole role) {
    return role == WindowRole::Dialog ? ROLE_SYSTEM_DIALOG : ROLE_SYSTEM_WINDOW;
}

}  // namespace

std::optional<LRESULT> ClientObjectWithRole(HWND window, WPARAM wParam, LPARAM lParam, WindowRole role) {
    // The object id arrives as a 32-bit value in a 64-bit lParam.
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) {
        return std::nullopt;
    }
    IAccessible* system = nullptr;
    if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&system))) ||
        system == nullptr) {
        return std::nullopt;
    }
    // The one reference it starts with is ours; LresultFromObject takes its own where it succeeds.
    ClientWithRole* const object = std::make_unique<ClientWithRole>(system, MsaaRole(role)).release();
    const LRESULT answer = LresultFromObject(__uuidof(IAccessible), wParam, object);
    object->Release();
    if (answer <= 0) {  // a failure is a (negative) COM error code
        return std::nullopt;
    }
    return answer;
}

}  // namespace varnel::win32ui
