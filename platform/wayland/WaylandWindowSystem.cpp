#include "platform/wayland/WaylandWindowSystem.h"

#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "plasma-window-management-client.h"
#include "platform/wayland/WaylandConnection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace varnel {

namespace {

// makeForeground waits this long for the compositor to report the activation.
constexpr std::chrono::milliseconds ActivateBound{100};
// Handles of other clients' toplevels count up from here, away from the toolkit's own handles.
constexpr WindowHandle FirstHandle = 0x7E000001;

}  // namespace

struct WaylandWindowSystem::Impl : wayland::SeatConnection {
    // A window of the compositor's list, from either protocol: wlroots' foreign toplevels report
    // changes in batches ended by `done`, KWin's plasma windows one by one after their initial state.
    struct Toplevel {
        zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
        org_kde_plasma_window* plasma = nullptr;
        WindowHandle handle = 0;
        std::string title, appId, pendingTitle, pendingAppId;
        std::uint32_t pid = 0;
        bool activated = false, pendingActivated = false;
        bool closed = false;
        bool known = false;  // the first done (or the initial state) has arrived

        void destroy() const {
            if (proxy != nullptr) {
                zwlr_foreign_toplevel_handle_v1_destroy(proxy);
            }
            if (plasma != nullptr) {
                org_kde_plasma_window_destroy(plasma);
            }
        }
    };

    std::string ownAppId;
    std::uint32_t ownPid = static_cast<std::uint32_t>(getpid());
    std::function<WindowHandle()> ownActiveWindow;
    WindowSystem* screen = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    org_kde_plasma_window_management* plasmaManager = nullptr;
    std::uint32_t plasmaVersion = 0;
    std::vector<std::unique_ptr<Toplevel>> toplevels;
    WindowHandle nextHandle = FirstHandle;
    WindowHandle lastOwn = 0;

    ~Impl() {
        for (auto& t : toplevels) {
            t->destroy();
        }
        if (manager != nullptr) {
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
        }
        if (plasmaManager != nullptr) {
            org_kde_plasma_window_management_destroy(plasmaManager);
        }
    }

    bool isOwn(const Toplevel& t) const {
        return (!ownAppId.empty() && t.appId == ownAppId) || (t.pid != 0 && t.pid == ownPid);
    }
    bool listAvailable() const { return manager != nullptr || plasmaManager != nullptr; }

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

    // KWin's plasma window management: one org_kde_plasma_window per window, asked for by its uuid.
    static void plasmaTitle(void* data, org_kde_plasma_window*, const char* title) {
        of(data)->title = title;
    }
    static void plasmaAppId(void* data, org_kde_plasma_window*, const char* appId) {
        of(data)->appId = appId;
    }
    static void plasmaState(void* data, org_kde_plasma_window*, std::uint32_t flags) {
        of(data)->activated = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE) != 0;
    }
    static void plasmaUnmapped(void* data, org_kde_plasma_window*) { of(data)->closed = true; }
    static void plasmaInitialState(void* data, org_kde_plasma_window*) { of(data)->known = true; }
    static void plasmaPid(void* data, org_kde_plasma_window*, std::uint32_t pid) { of(data)->pid = pid; }
    static void plasmaIgnoreInt(void*, org_kde_plasma_window*, std::int32_t) {}
    static void plasmaIgnoreString(void*, org_kde_plasma_window*, const char*) {}
    static void plasmaIgnoreParent(void*, org_kde_plasma_window*, org_kde_plasma_window*) {}
    static void plasmaIgnoreGeometry(void*, org_kde_plasma_window*, std::int32_t, std::int32_t, std::uint32_t,
                                     std::uint32_t) {}
    static void plasmaIgnore(void*, org_kde_plasma_window*) {}
    static void plasmaIgnoreMenu(void*, org_kde_plasma_window*, const char*, const char*) {}
    static constexpr org_kde_plasma_window_listener PlasmaWindowListener{
        plasmaTitle,        plasmaAppId,        plasmaState,        plasmaIgnoreInt,      plasmaIgnoreString,
        plasmaUnmapped,     plasmaInitialState, plasmaIgnoreParent, plasmaIgnoreGeometry, plasmaIgnore,
        plasmaPid,          plasmaIgnoreString, plasmaIgnoreString, plasmaIgnoreMenu,     plasmaIgnoreString,
        plasmaIgnoreString, plasmaIgnoreString};

    void addPlasmaWindow(org_kde_plasma_window* proxy) {
        auto t = std::make_unique<Toplevel>();
        t->plasma = proxy;
        t->handle = nextHandle++;
        org_kde_plasma_window_add_listener(proxy, &PlasmaWindowListener, t.get());
        toplevels.push_back(std::move(t));
    }
    static void onPlasmaShowDesktop(void*, org_kde_plasma_window_management*, std::uint32_t) {}
    static void onPlasmaWindow(void* data, org_kde_plasma_window_management* manager, std::uint32_t id) {
        auto* self = static_cast<Impl*>(data);
        if (self->plasmaVersion < ORG_KDE_PLASMA_WINDOW_MANAGEMENT_WINDOW_WITH_UUID_SINCE_VERSION) {
            self->addPlasmaWindow(org_kde_plasma_window_management_get_window(manager, id));
        }
    }
    static void onPlasmaStacking(void*, org_kde_plasma_window_management*, wl_array*) {}
    static void onPlasmaStackingUuid(void*, org_kde_plasma_window_management*, const char*) {}
    static void onPlasmaWindowWithUuid(void* data, org_kde_plasma_window_management* manager, std::uint32_t,
                                       const char* uuid) {
        static_cast<Impl*>(data)->addPlasmaWindow(
            org_kde_plasma_window_management_get_window_by_uuid(manager, uuid));
    }
    static constexpr org_kde_plasma_window_management_listener PlasmaManagerListener{
        onPlasmaShowDesktop, onPlasmaWindow, onPlasmaStacking, onPlasmaStackingUuid, onPlasmaWindowWithUuid};

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
        } else if (std::strcmp(interface, org_kde_plasma_window_management_interface.name) == 0 &&
                   self->plasmaManager == nullptr) {
            self->plasmaVersion =
                std::min<std::uint32_t>(version, org_kde_plasma_window_management_interface.version);
            self->plasmaManager = static_cast<org_kde_plasma_window_management*>(wl_registry_bind(
                registry, name, &org_kde_plasma_window_management_interface, self->plasmaVersion));
            org_kde_plasma_window_management_add_listener(self->plasmaManager, &PlasmaManagerListener, self);
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
                (*it)->destroy();
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
    if (const char* reason = impl->connect(&Impl::RegistryListener, impl.get())) {
        return wayland::Failed(why, reason);
    }
    if (!impl->listAvailable()) {
        return wayland::Failed(
            why,
            "the compositor offers no list of windows (zwlr_foreign_toplevel_manager_v1 or, on KWin, "
            "org_kde_plasma_window_management)");
    }
    // The toplevels that exist now, and their state (plasma windows are asked for in a second round).
    if (!wayland::Roundtrip(impl->display, wayland::ConnectBound) ||
        !wayland::Roundtrip(impl->display, wayland::ConnectBound)) {
        return wayland::Failed(why, "the Wayland compositor did not answer");
    }
    return std::unique_ptr<WaylandWindowSystem>(
        new WaylandWindowSystem(std::move(impl)));  // private constructor
}

WaylandWindowSystem::WaylandWindowSystem(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
WaylandWindowSystem::~WaylandWindowSystem() = default;

Result<WindowHandle> WaylandWindowSystem::foregroundWindow() {
    if (!impl_->update() || !impl_->listAvailable()) {
        return Result<WindowHandle>::failure("the compositor's list of windows is not available");
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
    if (t->plasma != nullptr) {
        org_kde_plasma_window_set_state(t->plasma, ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE,
                                        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
    } else {
        zwlr_foreign_toplevel_handle_v1_activate(t->proxy, impl_->seat);
    }
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

WindowHandle WaylandWindowSystem::findByTitle(const std::string& title) {
    impl_->update();
    for (const auto& t : impl_->toplevels) {
        if (t->known && !t->closed && t->title == title) {
            return t->handle;
        }
    }
    return 0;
}

std::string WaylandWindowSystem::title(WindowHandle window) {
    impl_->update();
    const Impl::Toplevel* t = impl_->find(window);
    return t != nullptr ? t->title : std::string{};
}

}  // namespace varnel
