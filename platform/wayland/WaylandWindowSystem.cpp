#include "platform/wayland/WaylandWindowSystem.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/wayland/WaylandConnection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace varnel {

namespace {

constexpr std::chrono::milliseconds ConnectBound{500};
// makeForeground waits this long for the compositor to report the activation.
constexpr std::chrono::milliseconds ActivateBound{100};
// Handles of other clients' toplevels count up from here, away from the toolkit's own handles.
constexpr WindowHandle FirstHandle = 0x7E000001;

}  // namespace

struct WaylandWindowSystem::Impl {
    struct Toplevel {
        zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
        WindowHandle handle = 0;
        std::string title, appId, pendingTitle, pendingAppId;
        bool activated = false, pendingActivated = false;
        bool closed = false;
        bool known = false;  // the first done has arrived
    };

    std::string ownAppId;
    std::function<WindowHandle()> ownActiveWindow;
    WindowSystem* screen = nullptr;
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    std::vector<std::unique_ptr<Toplevel>> toplevels;
    WindowHandle nextHandle = FirstHandle;
    WindowHandle lastOwn = 0;

    ~Impl() {
        for (auto& t : toplevels) {
            zwlr_foreign_toplevel_handle_v1_destroy(t->proxy);
        }
        if (manager != nullptr) {
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
        }
        if (seat != nullptr) {
            wl_seat_destroy(seat);
        }
        if (registry != nullptr) {
            wl_registry_destroy(registry);
        }
        if (display != nullptr) {
            wl_display_disconnect(display);
        }
    }

    bool isOwn(const Toplevel& t) const { return !ownAppId.empty() && t.appId == ownAppId; }

    Toplevel* find(WindowHandle handle) {
        for (auto& t : toplevels) {
            if (t->handle == handle && !t->closed && t->known) {
                return t.get();
            }
        }
        return nullptr;
    }

    static Toplevel* of(void* data) { return static_cast<Toplevel*>(data); }
    static void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        of(data)->pendingTitle = title;
    }
    static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        of(data)->pendingAppId = appId;
    }
    static void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        bool activated = false;
        const auto* state = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
            activated = activated || state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        }
        of(data)->pendingActivated = activated;
    }
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
        Toplevel* t = of(data);
        t->title = t->pendingTitle;
        t->appId = t->pendingAppId;
        t->activated = t->pendingActivated;
        t->known = true;
    }
    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) { of(data)->closed = true; }
    static void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
    static constexpr zwlr_foreign_toplevel_handle_v1_listener ToplevelListener{
        onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed, onParent};

    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                           zwlr_foreign_toplevel_handle_v1* proxy) {
        auto* self = static_cast<Impl*>(data);
        auto t = std::make_unique<Toplevel>();
        t->proxy = proxy;
        t->handle = self->nextHandle++;
        zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &ToplevelListener, t.get());
        self->toplevels.push_back(std::move(t));
    }
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
        auto* self = static_cast<Impl*>(data);
        zwlr_foreign_toplevel_manager_v1_destroy(self->manager);
        self->manager = nullptr;
    }
    static constexpr zwlr_foreign_toplevel_manager_v1_listener ManagerListener{onToplevel, onFinished};

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t version) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat == nullptr) {
            self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 &&
                   self->manager == nullptr) {
            self->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                                 std::min<std::uint32_t>(version, 3)));
            zwlr_foreign_toplevel_manager_v1_add_listener(self->manager, &ManagerListener, self);
        }
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener RegistryListener{onGlobal, onGlobalRemove};

    // Reads what arrived and forgets toplevels that are gone. False when the connection is broken.
    bool update() {
        if (!wayland::DispatchPending(display)) {
            return false;
        }
        for (auto it = toplevels.begin(); it != toplevels.end();) {
            if ((*it)->closed) {
                zwlr_foreign_toplevel_handle_v1_destroy((*it)->proxy);
                it = toplevels.erase(it);
            } else {
                ++it;
            }
        }
        return true;
    }
};

std::unique_ptr<WaylandWindowSystem> WaylandWindowSystem::open(std::string ownAppId,
                                                               std::function<WindowHandle()> ownActiveWindow,
                                                               WindowSystem& screen, std::string* why) {
    auto impl = std::make_unique<Impl>();
    impl->ownAppId = std::move(ownAppId);
    impl->ownActiveWindow = std::move(ownActiveWindow);
    impl->screen = &screen;
    auto fail = [why](const char* reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return nullptr;
    };
    if (const char* reason = wayland::ConnectAndListGlobals(
            &impl->display, &impl->registry, &Impl::RegistryListener, impl.get(), ConnectBound)) {
        return fail(reason);
    }
    if (impl->manager == nullptr) {
        return fail("the compositor offers no foreign-toplevel protocol (zwlr_foreign_toplevel_manager_v1)");
    }
    if (impl->seat == nullptr) {
        return fail("the compositor offers no seat");
    }
    // The toplevels that exist now, and their state.
    if (!wayland::Roundtrip(impl->display, ConnectBound)) {
        return fail("the Wayland compositor did not answer");
    }
    return std::unique_ptr<WaylandWindowSystem>(
        new WaylandWindowSystem(std::move(impl)));  // private constructor
}

WaylandWindowSystem::WaylandWindowSystem(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
WaylandWindowSystem::~WaylandWindowSystem() = default;

Result<WindowHandle> WaylandWindowSystem::foregroundWindow() {
    if (!impl_->update() || impl_->manager == nullptr) {
        return Result<WindowHandle>::failure("the foreign-toplevel list is not available");
    }
    for (const auto& t : impl_->toplevels) {
        if (!t->known || !t->activated) {
            continue;
        }
        if (impl_->isOwn(*t)) {
            const WindowHandle own = impl_->ownActiveWindow ? impl_->ownActiveWindow() : 0;
            impl_->lastOwn = own != 0 ? own : impl_->lastOwn;
            return Result<WindowHandle>::success(impl_->lastOwn);
        }
        return Result<WindowHandle>::success(t->handle);
    }
    return Result<WindowHandle>::success(0);
}

Status WaylandWindowSystem::makeForeground(WindowHandle window) {
    impl_->update();
    Impl::Toplevel* t = impl_->find(window);
    if (t == nullptr) {
        return Status::failure("no such toplevel");
    }
    zwlr_foreign_toplevel_handle_v1_activate(t->proxy, impl_->seat);
    if (!wayland::Roundtrip(impl_->display, ActivateBound)) {
        return Status::failure("the compositor did not answer the activation in time");
    }
    return Status::success();
}

bool WaylandWindowSystem::windowExists(WindowHandle window) {
    if (window == 0 || !impl_->update()) {
        return false;
    }
    return impl_->find(window) != nullptr || (window == impl_->lastOwn);
}

bool WaylandWindowSystem::isOwnWindow(WindowHandle window) {
    // Our active window is reported by the toolkit's handle (foregroundWindow); any other handle is
    // a toplevel of the compositor's list, ours when it carries our app_id.
    if (window == 0) {
        return false;
    }
    if (window == impl_->lastOwn) {
        return true;
    }
    const Impl::Toplevel* t = impl_->find(window);
    return t != nullptr && impl_->isOwn(*t);
}

Status WaylandWindowSystem::setZOrder(WindowHandle, ZOrderMode) {
    return Status::failure("on Wayland the compositor decides the stacking order");
}

Result<MonitorArea> WaylandWindowSystem::primaryMonitorArea() {
    return impl_->screen->primaryMonitorArea();
}

Result<TwipsPerPixel> WaylandWindowSystem::twipsPerPixel() {
    return impl_->screen->twipsPerPixel();
}

std::string WaylandWindowSystem::title(WindowHandle window) {
    impl_->update();
    const Impl::Toplevel* t = impl_->find(window);
    return t != nullptr ? t->title : std::string{};
}

}  // namespace varnel
