#include "platform/gnome/GnomeShell.h"

#include <QDBusMessage>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "platform/gnome/ExtensionInstall.h"
#include "platform/gnome/ShellService.h"

namespace varnel::gnome {

namespace {

using namespace std::chrono_literals;

constexpr auto ObjectPath = "/org/example/varnel/Shell";
constexpr auto Interface = "org.example.varnel.Shell1";
// What LastWindow says about the keyboard focus.
enum Focus : unsigned { FocusNone = 0, FocusOnWindow = 1, FocusOnCaller = 2 };
// The shell reports no reads of the clipboard (a selection source written in JavaScript cannot serve
// reads: its read_async takes a callback, which GJS does not support in vfuncs), so a paste is given
// this long to read the text before the clipboard may change again. A window reads it within tens of
// milliseconds; on a busy machine, 250 ms were not always enough.
constexpr auto PasteSettle = 500ms;
// A commit reaches the window as one Wayland message, which holds at most 4096 bytes: 512 UTF-16 units
// are at most 1536 bytes of UTF-8.
constexpr std::size_t CommitSliceUnits = 512;
// A window applies a commit once the compositor's done follows it, and a commit that arrives while it
// is still answering the last one is lost (GTK 3): commits are this far apart.
constexpr auto CommitGap = 15ms;
constexpr auto PollInterval = 5ms;
// The shell cannot say when a window has handled the keys sent to it (X11 answers a ping once it has), so
// the wait for a copy starts before the window has even seen the copy key: it gets this much more. A
// loaded machine took more than the caller's 500 ms now and then before the window had copied.
constexpr auto KeyHandlingAllowance = 1000ms;

std::string_view Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

Status StatusOf(const Result<QList<QVariant>>& reply) {
    return reply ? Status::success() : Status::failure(reply.error());
}

// The first argument of a reply, or an empty variant.
QVariant First(const Result<QList<QVariant>>& reply, int index = 0) {
    return reply && reply.value().size() > index ? reply.value().at(index) : QVariant{};
}

}  // namespace

bool IsGnomeWaylandSession() {
    const std::string_view desktop = Env("XDG_CURRENT_DESKTOP");
    return !Env("WAYLAND_DISPLAY").empty() && desktop.find("GNOME") != std::string_view::npos;
}

bool ShellServiceRuns(std::string* why) {
    // A connection of its own, closed again: the probe may run before the Qt application exists.
    const QString name = QStringLiteral("varnel-gnome-probe");
    bool runs = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        if (!bus.isConnected()) {
            *why = "the session bus cannot be reached";
        } else {
            QDBusMessage message = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
            message.setArguments({QString::fromLatin1(ServiceName)});
            const QDBusMessage reply = bus.call(message, QDBus::Block, ShellService::CallBoundMs);
            runs = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                   reply.arguments().front().toBool();
            if (!runs) {
                *why = std::string("the GNOME Shell extension ") + ExtensionUuid() + " is not running";
            }
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return runs;
}

std::string MissingServiceNotice(const std::string& why) {
    return "On GNOME Wayland, Varnel sends into Wayland windows through its GNOME Shell extension, "
           "and " +
           why +
           ". To use it: run `varnel --gnome-extension install` once (not needed when Varnel came as a "
           "package), log out and in again, run `gnome-extensions enable " +
           ExtensionUuid() + "`, and start Varnel again.";
}

// The service.

ShellService::ShellService(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.connect(QString::fromLatin1(ServiceName), QString::fromLatin1(ObjectPath),
                 QString::fromLatin1(Interface), QStringLiteral("ClipboardChanged"), this,
                 SLOT(onClipboardChanged(qulonglong, QString)));
}

ShellService::~ShellService() {
    bus_.disconnect(QString::fromLatin1(ServiceName), QString::fromLatin1(ObjectPath),
                    QString::fromLatin1(Interface), QStringLiteral("ClipboardChanged"), this,
                    SLOT(onClipboardChanged(qulonglong, QString)));
}

Result<QList<QVariant>> ShellService::call(const QString& method, const QList<QVariant>& args) const {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(ServiceName), QString::fromLatin1(ObjectPath),
                                       QString::fromLatin1(Interface), method);
    message.setArguments(args);
    const QDBusMessage reply = bus_.call(message, QDBus::Block, CallBoundMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return Result<QList<QVariant>>::failure("GNOME Shell extension, " + method.toStdString() + ": " +
                                                reply.errorMessage().toStdString());
    }
    return Result<QList<QVariant>>::success(reply.arguments());
}

void ShellService::noteSerial(std::uint64_t serial) {
    serial_ = std::max(serial_, serial);
}

void ShellService::onClipboardChanged(qulonglong serial, const QString& setter) {
    noteSerial(serial);
    if (setter != ownName() && listener_) {
        listener_();
    }
}

// Windows.

GnomeWindowSystem::GnomeWindowSystem(std::shared_ptr<ShellService> shell,
                                     std::function<WindowHandle()> ownActiveWindow, WindowSystem& screen)
    : shell_(std::move(shell)), ownActiveWindow_(std::move(ownActiveWindow)), screen_(screen) {}

GnomeWindowSystem::~GnomeWindowSystem() = default;

Result<WindowHandle> GnomeWindowSystem::foregroundWindow() {
    const auto reply = shell_->call(QStringLiteral("LastWindow"));
    if (!reply || reply.value().size() < 3) {
        return Result<WindowHandle>::failure(reply ? "LastWindow: a short reply" : reply.error());
    }
    const auto& values = reply.value();
    switch (values.at(1).toUInt()) {
        case FocusOnWindow:
            lastTitle_ = values.at(2).toString().toStdString();
            return Result<WindowHandle>::success(values.at(0).toULongLong());
        case FocusOnCaller: {
            const WindowHandle own = ownActiveWindow_ ? ownActiveWindow_() : 0;
            lastOwn_ = own != 0 ? own : lastOwn_;
            return Result<WindowHandle>::success(lastOwn_);
        }
        default:
            return Result<WindowHandle>::success(0);
    }
}

Status GnomeWindowSystem::makeForeground(WindowHandle window) {
    if (isOwnWindow(window)) {
        return screen_.makeForeground(window);
    }
    const auto reply =
        shell_->call(QStringLiteral("ActivateWindow"), {QVariant::fromValue<qulonglong>(window)});
    if (!reply) {
        return Status::failure(reply.error());
    }
    return First(reply).toBool() ? Status::success() : Status::failure("the window did not take the focus");
}

bool GnomeWindowSystem::windowExists(WindowHandle window) {
    if (window == 0) {
        return false;
    }
    if (isOwnWindow(window)) {
        return true;
    }
    return First(shell_->call(QStringLiteral("HasWindow"), {QVariant::fromValue<qulonglong>(window)}))
        .toBool();
}

bool GnomeWindowSystem::isOwnWindow(WindowHandle window) {
    return window != 0 && (window == lastOwn_ || screen_.isOwnWindow(window));
}

Status GnomeWindowSystem::setZOrder(WindowHandle, ZOrderMode) {
    return Status::failure("on Wayland the compositor decides the stacking order");
}

Result<MonitorArea> GnomeWindowSystem::primaryMonitorArea() {
    return screen_.primaryMonitorArea();
}

Result<TwipsPerPixel> GnomeWindowSystem::twipsPerPixel() {
    return screen_.twipsPerPixel();
}

// Clipboard.

GnomeClipboard::GnomeClipboard(std::shared_ptr<ShellService> shell, EventPump& pump)
    : shell_(std::move(shell)), pump_(pump) {}

GnomeClipboard::~GnomeClipboard() {
    shell_->setForeignChangeListener(nullptr);
}

Status GnomeClipboard::read() {
    if (cached_ && cachedSerial_ == shell_->serial()) {
        return Status::success();
    }
    const auto reply = shell_->call(QStringLiteral("GetClipboardText"));
    if (!reply || reply.value().size() < 3) {
        return Status::failure(reply ? "GetClipboardText: a short reply" : reply.error());
    }
    cachedSerial_ = reply.value().at(0).toULongLong();
    shell_->noteSerial(cachedSerial_);
    hasText_ = reply.value().at(1).toBool();
    text_ = reply.value().at(2).toString().toStdU16String();
    cached_ = true;
    return Status::success();
}

Status GnomeClipboard::clear() {
    const auto reply = shell_->call(QStringLiteral("ClearClipboard"));
    ownSerial_ = First(reply).toULongLong();
    shell_->noteSerial(ownSerial_);
    return StatusOf(reply);
}

Result<bool> GnomeClipboard::hasText() {
    const Status status = read();
    return status ? Result<bool>::success(hasText_) : Result<bool>::failure(status.error());
}

Result<std::u16string> GnomeClipboard::getText() {
    if (const Status status = read(); !status) {
        return Result<std::u16string>::failure(status.error());
    }
    if (!hasText_) {
        return Result<std::u16string>::failure("the clipboard holds no text");
    }
    return Result<std::u16string>::success(text_);
}

std::uint64_t GnomeClipboard::changeCount() {
    return shell_->serial() + 1;  // 0 is "cannot tell"
}

Status GnomeClipboard::setText(const std::u16string& text) {
    const auto reply = shell_->call(QStringLiteral("SetClipboardText"), {QString::fromStdU16String(text)});
    ownSerial_ = First(reply).toULongLong();
    shell_->noteSerial(ownSerial_);
    return StatusOf(reply);
}

Status GnomeClipboard::offerForPaste(const std::u16string& text, WindowHandle, PasteKind) {
    return setText(text);
}

Status GnomeClipboard::waitUntilPasted(std::chrono::milliseconds bound) {
    const auto end =
        std::chrono::steady_clock::now() + std::min<std::chrono::milliseconds>(bound, PasteSettle);
    while (std::chrono::steady_clock::now() < end) {
        pump_.pumpOnce();
        std::this_thread::sleep_for(PollInterval);
    }
    return Status::success();
}

Status GnomeClipboard::waitForCopyFrom(WindowHandle, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound + KeyHandlingAllowance;
    for (;;) {
        const auto state = shell_->call(QStringLiteral("ClipboardState"));
        if (state && state.value().size() >= 2) {
            const std::uint64_t serial = state.value().at(0).toULongLong();
            shell_->noteSerial(serial);
            if (serial > ownSerial_ && state.value().at(1).toString() != shell_->ownName()) {
                return read();
            }
        }
        if (std::chrono::steady_clock::now() >= end) {
            return Status::failure("no program copied a text within " + std::to_string(bound.count()) +
                                   " ms");
        }
        pump_.pumpOnce();
        std::this_thread::sleep_for(PollInterval);
    }
}

void GnomeClipboard::setChangeListener(std::function<void()> listener) {
    shell_->setForeignChangeListener(std::move(listener));
}

// Keys.

std::vector<std::u16string> CommitSlices(const std::u16string& text, std::size_t maxUnits) {
    std::vector<std::u16string> slices;
    std::u16string slice;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\0') {
            continue;
        }
        if (c == u'\r') {
            c = u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        }
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        if (slice.size() + (pair ? 2 : 1) > maxUnits && !slice.empty()) {
            slices.push_back(std::move(slice));
            slice.clear();
        }
        slice.push_back(c);
        if (pair) {
            slice.push_back(text[++i]);
        }
    }
    if (!slice.empty()) {
        slices.push_back(std::move(slice));
    }
    return slices;
}

GnomeKeyboard::GnomeKeyboard(std::shared_ptr<ShellService> shell) : shell_(std::move(shell)) {}

GnomeKeyboard::~GnomeKeyboard() = default;

Status GnomeKeyboard::pressPasteKey() {
    return StatusOf(shell_->call(QStringLiteral("PressPasteKey")));
}

Status GnomeKeyboard::pressCopyKey() {
    return StatusOf(shell_->call(QStringLiteral("PressCopyKey")));
}

Status GnomeKeyboard::typeText(const std::u16string& text, const BetweenSlices& betweenSlices) {
    for (const std::u16string& slice : CommitSlices(text, CommitSliceUnits)) {
        if (const Status committed =
                StatusOf(shell_->call(QStringLiteral("CommitText"), {QString::fromStdU16String(slice)}));
            !committed) {
            return committed;
        }
        if (betweenSlices && !betweenSlices()) {
            break;
        }
        std::this_thread::sleep_for(CommitGap);
    }
    return Status::success();
}

GnomeInputMethod::GnomeInputMethod(std::shared_ptr<ShellService> shell) : shell_(std::move(shell)) {}

GnomeInputMethod::~GnomeInputMethod() = default;

Result<bool> GnomeInputMethod::suspend() {
    const auto reply = shell_->call(QStringLiteral("TextInputReady"));
    if (!reply) {
        return Result<bool>::failure(reply.error());
    }
    if (!First(reply).toBool()) {
        return Result<bool>::failure(
            "the window takes no text from GNOME Shell's input method (an X11 window, or a Wayland one "
            "without text input v3, as those of Qt 6.4)");
    }
    return Result<bool>::success(false);
}

Backends OpenBackends(EventPump& pump, std::function<WindowHandle()> ownActiveWindow, WindowSystem& screen,
                      std::string* why) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *why = "the session bus cannot be reached";
        return {};
    }
    auto shell = std::make_shared<ShellService>(bus);
    // The first call says whether the service answers, and to us.
    const auto state = shell->call(QStringLiteral("ClipboardState"));
    if (!state || state.value().isEmpty()) {
        *why = state ? "ClipboardState: a short reply" : state.error();
        return {};
    }
    shell->noteSerial(state.value().front().toULongLong());
    Backends backends;
    backends.windows = std::make_unique<GnomeWindowSystem>(shell, std::move(ownActiveWindow), screen);
    backends.clipboard = std::make_unique<GnomeClipboard>(shell, pump);
    backends.keyboard = std::make_unique<GnomeKeyboard>(shell);
    backends.inputMethod = std::make_unique<GnomeInputMethod>(shell);
    return backends;
}

}  // namespace varnel::gnome
