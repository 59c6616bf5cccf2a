#include "platform/dbus/DBusInputMethods.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QString>
#include <QVariant>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

namespace varnel {

namespace {

using namespace std::chrono_literals;

// Every call to an input method is bounded: one that does not answer in time counts as unknown.
constexpr int CallBoundMs = 200;
// How long the focused window's input context is waited for after the focus has moved to it (the
// toolkit tells the input method about the focus on a connection of its own).
constexpr auto FocusBound = 300ms;
// A toolkit's input method module passes each key it has read on to the input method and inserts the
// character when that answers; keys still on that way when the input method is switched back on would
// be composed: they are given this long to get there first. Through XIM every key makes a round trip
// between the window and the input method, and a typing's keys take far longer to get through: unless
// the keyboard has seen them all come back, they are given the longer time.
constexpr auto InFlightKeysBound = 100ms;
constexpr auto InFlightXimKeysBound = 1500ms;
// How long fcitx5 is asked, after switching back, until it reads back as it was before.
constexpr auto RestoredBound = 300ms;

constexpr auto FcitxService = "org.fcitx.Fcitx5";
constexpr auto FcitxPath = "/controller";
constexpr auto FcitxInterface = "org.fcitx.Fcitx.Controller1";
constexpr auto IBusService = "org.freedesktop.IBus";
constexpr auto IBusPath = "/org/freedesktop/IBus";
// The engine an ibus that composes is switched to while typing: the plain Japanese keyboard.
constexpr auto IBusKeyboardEngine = "xkb:jp::jpn";

// The states of fcitx5's controller State().
enum FcitxState { NoFocusedContext = 0, Inactive = 1, Active = 2 };

Result<QList<QVariant>> Call(const QDBusConnection& bus, const QString& service, const QString& path,
                             const QString& interface, const QString& method,
                             const QList<QVariant>& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    const QDBusMessage reply = bus.call(message, QDBus::Block, CallBoundMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return Result<QList<QVariant>>::failure(
            (service + " " + method + ": " + reply.errorMessage()).toStdString());
    }
    return Result<QList<QVariant>>::success(reply.arguments());
}

bool HasOwner(const QDBusConnection& bus, const QString& name) {
    const auto reply =
        Call(bus, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"), {name});
    return reply && !reply.value().isEmpty() && reply.value().front().toBool();
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The XIM server XMODIFIERS names ("@im=NAME"), empty when none.
std::string XimServerName() {
    const std::string xim = Env("XMODIFIERS");
    const auto at = xim.find("@im=");
    return at != std::string::npos ? xim.substr(at + 4) : std::string{};
}

// The input method the session names for its programs (XMODIFIERS, GTK_IM_MODULE, QT_IM_MODULE);
// empty when none composes (none named, "none", "simple", or plain "xim").
std::string NamedInputMethod() {
    for (const std::string& name : {XimServerName(), Env("GTK_IM_MODULE"), Env("QT_IM_MODULE")}) {
        if (!name.empty() && name != "none" && name != "simple" && name != "xim") {
            return name;
        }
    }
    return {};
}

// Whether XMODIFIERS names an XIM server, which windows reading keys through XIM (Xt programs such as
// xterm, Tk) talk to.
bool XimServerNamed() {
    const std::string name = XimServerName();
    return !name.empty() && name != "none";
}

// ibus's bus: IBUS_ADDRESS, or the address file ibus-daemon writes for this display.
QString IBusAddress() {
    if (const std::string address = Env("IBUS_ADDRESS"); !address.empty()) {
        return QString::fromStdString(address);
    }
    QString machineId;
    for (const char* path : {"/var/lib/dbus/machine-id", "/etc/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            machineId = QString::fromLatin1(file.readAll()).trimmed();
            break;
        }
    }
    const QString display = QString::fromStdString(Env("DISPLAY"));
    const auto colon = display.lastIndexOf(QLatin1Char(':'));
    if (machineId.isEmpty() || colon < 0) {
        return {};
    }
    QString host = display.left(colon);
    QString number = display.mid(colon + 1);
    number =
        number.left(number.indexOf(QLatin1Char('.')) < 0 ? number.size() : number.indexOf(QLatin1Char('.')));
    host = host.isEmpty() ? QStringLiteral("unix") : host;
    const std::string configHome = Env("XDG_CONFIG_HOME");
    const QString config = configHome.empty()
                               ? QString::fromStdString(Env("HOME")) + QStringLiteral("/.config")
                               : QString::fromStdString(configHome);
    QFile file(config + QStringLiteral("/ibus/bus/") + machineId + QLatin1Char('-') + host +
               QLatin1Char('-') + number);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("IBUS_ADDRESS=")) {
            return QString::fromUtf8(line.mid(13));
        }
    }
    return {};
}

// The name in an ibus engine description (a serialised IBusEngineDesc: type name, attachments, name, ...).
// The property's value is a variant, and ibus wraps its objects in one more.
QString EngineName(QVariant description) {
    while (description.canConvert<QDBusVariant>() && !description.canConvert<QDBusArgument>()) {
        description = description.value<QDBusVariant>().variant();
    }
    if (!description.canConvert<QDBusArgument>()) {
        return {};
    }
    const QDBusArgument argument = description.value<QDBusArgument>();  // const: read, not written
    QString typeName;
    QString name;
    argument.beginStructure();
    argument >> typeName;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString key;
        QDBusVariant value;
        argument.beginMapEntry();
        argument >> key >> value;
        argument.endMapEntry();
    }
    argument.endMap();
    argument >> name;
    return name;
}

}  // namespace

struct DBusInputMethods::Impl {
    explicit Impl(std::function<bool()> keysCameBack) : keysCameBack(std::move(keysCameBack)) {}

    enum class Suspended { Nothing, Fcitx, IBus };
    std::function<bool()> keysCameBack;  // may be empty: then nobody knows
    Suspended suspended = Suspended::Nothing;
    QString previous;                // the input method or engine that was on
    bool focusedThroughXim = false;  // the window typed into talks to fcitx5 through XIM

    // fcitx5 lists its input contexts with their frontend and which one has the focus.
    bool fcitxFocusIsXim(const QDBusConnection& bus) const {
        const auto info = Call(bus, fcitx5(), QString::fromLatin1(FcitxPath),
                               QString::fromLatin1(FcitxInterface), QStringLiteral("DebugInfo"));
        if (!info || info.value().isEmpty()) {
            return true;  // unknown: the longer wait
        }
        for (const QString& line : info.value().front().toString().split(QLatin1Char('\n'))) {
            if (line.contains(QStringLiteral(" focus:1"))) {
                return line.contains(QStringLiteral(" frontend:xim "));
            }
        }
        return true;
    }

    QString fcitx5() const { return QString::fromLatin1(FcitxService); }

    Result<int> fcitxState(const QDBusConnection& bus) const {
        const auto reply = Call(bus, fcitx5(), QString::fromLatin1(FcitxPath),
                                QString::fromLatin1(FcitxInterface), QStringLiteral("State"));
        if (!reply || reply.value().isEmpty()) {
            return Result<int>::failure(reply ? "fcitx5 State: no answer" : reply.error());
        }
        return Result<int>::success(reply.value().front().toInt());
    }

    // fcitx5 acts on the focused input context: wait (bounded) until there is one.
    Result<int> focusedFcitxState(const QDBusConnection& bus) const {
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const Result<int> state = fcitxState(bus);
            if (!state || state.value() != NoFocusedContext) {
                return state;
            }
            if (std::chrono::steady_clock::now() - start >= FocusBound) {
                return Result<int>::failure("fcitx5 has no focused input context");
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    Result<bool> suspendFcitx(const QDBusConnection& bus) {
        const Result<int> state = focusedFcitxState(bus);
        if (!state) {
            return Result<bool>::failure(state.error());
        }
        if (state.value() != Active) {
            return Result<bool>::success(false);
        }
        const Result<QString> current = fcitxInputMethod(bus);
        if (!current) {
            return Result<bool>::failure(current.error());
        }
        previous = current.value();
        focusedThroughXim = fcitxFocusIsXim(bus);
        suspended = Suspended::Fcitx;  // from here on restore() puts it back, whatever happens next
        const auto off = Call(bus, fcitx5(), QString::fromLatin1(FcitxPath),
                              QString::fromLatin1(FcitxInterface), QStringLiteral("Deactivate"));
        const Result<int> after = fcitxState(bus);
        if (!off || !after || after.value() != Inactive) {
            return Result<bool>::failure(!off ? off.error() : "fcitx5 stayed active");
        }
        return Result<bool>::success(true);
    }

    Result<QString> fcitxInputMethod(const QDBusConnection& bus) const {
        const auto current = Call(bus, fcitx5(), QString::fromLatin1(FcitxPath),
                                  QString::fromLatin1(FcitxInterface), QStringLiteral("CurrentInputMethod"));
        if (!current || current.value().isEmpty()) {
            return Result<QString>::failure(current ? "fcitx5 CurrentInputMethod: no answer"
                                                    : current.error());
        }
        return Result<QString>::success(current.value().front().toString());
    }

    Status restoreFcitx(const QDBusConnection& bus) {
        if (const Result<int> state = focusedFcitxState(bus); !state) {
            return Status::failure(state.error());
        }
        const QString path = QString::fromLatin1(FcitxPath);
        const QString interface = QString::fromLatin1(FcitxInterface);
        if (const auto on = Call(bus, fcitx5(), path, interface, QStringLiteral("Activate")); !on) {
            return Status::failure(on.error());
        }
        if (const auto im = Call(bus, fcitx5(), path, interface, QStringLiteral("SetCurrentIM"), {previous});
            !im) {
            return Status::failure(im.error());
        }
        // The switch is read back: on, with the input method that was on before.
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const Result<int> state = fcitxState(bus);
            const Result<QString> im = fcitxInputMethod(bus);
            if (state && state.value() == Active && im && im.value() == previous) {
                return Status::success();
            }
            if (std::chrono::steady_clock::now() - start >= RestoredBound) {
                return Status::failure("fcitx5 did not switch back to " + previous.toStdString());
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    Result<QString> ibusEngine(const QDBusConnection& bus) const {
        const auto reply = Call(bus, QString::fromLatin1(IBusService), QString::fromLatin1(IBusPath),
                                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                {QString::fromLatin1(IBusService), QStringLiteral("GlobalEngine")});
        if (!reply) {
            // "No global engine": nothing composes.
            return Result<QString>::success(QString{});
        }
        if (reply.value().isEmpty()) {
            return Result<QString>::failure("ibus GlobalEngine: no answer");
        }
        const QString name = EngineName(reply.value().front());
        if (name.isEmpty()) {
            return Result<QString>::failure("ibus GlobalEngine: an engine description that cannot be read");
        }
        return Result<QString>::success(name);
    }

    Status setIBusEngine(const QDBusConnection& bus, const QString& engine) const {
        const auto reply =
            Call(bus, QString::fromLatin1(IBusService), QString::fromLatin1(IBusPath),
                 QString::fromLatin1(IBusService), QStringLiteral("SetGlobalEngine"), {engine});
        return reply ? Status::success() : Status::failure(reply.error());
    }

    Result<bool> suspendIBus(const QDBusConnection& bus) {
        const Result<QString> engine = ibusEngine(bus);
        if (!engine) {
            return Result<bool>::failure(engine.error());
        }
        if (engine.value().isEmpty() || engine.value().startsWith(QStringLiteral("xkb:"))) {
            return Result<bool>::success(false);  // a plain keyboard engine composes nothing
        }
        previous = engine.value();
        suspended = Suspended::IBus;
        if (const Status off = setIBusEngine(bus, QString::fromLatin1(IBusKeyboardEngine)); !off) {
            return Result<bool>::failure(off.error());
        }
        return Result<bool>::success(true);
    }

    // Switching the engine back can take longer than a call's bound while the machine is busy (the
    // engine is enabled on the way): a call that did not answer is asked after, and made again, twice.
    Status restoreIBus(const QDBusConnection& bus) const {
        Status status = Status::success();
        for (int attempt = 0; attempt < 3; ++attempt) {
            status = setIBusEngine(bus, previous);
            if (status) {
                return status;
            }
            if (const Result<QString> engine = ibusEngine(bus); engine && engine.value() == previous) {
                return Status::success();
            }
        }
        return status;
    }

    QDBusConnection ibusBus() const {
        const QString address = IBusAddress();
        if (address.isEmpty()) {
            return QDBusConnection(QStringLiteral("varnel-no-ibus"));
        }
        const QString name = QStringLiteral("varnel-ibus ") + address;
        QDBusConnection bus(name);
        return bus.isConnected() ? bus : QDBusConnection::connectToBus(address, name);
    }
};

DBusInputMethods::DBusInputMethods(std::function<bool()> keysCameBack)
    : impl_(std::make_unique<Impl>(std::move(keysCameBack))) {}

DBusInputMethods::~DBusInputMethods() = default;

Result<bool> DBusInputMethods::suspend() {
    impl_->suspended = Impl::Suspended::Nothing;
    const QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected() && HasOwner(session, impl_->fcitx5())) {
        return impl_->suspendFcitx(session);
    }
    if (const QDBusConnection ibus = impl_->ibusBus(); ibus.isConnected()) {
        return impl_->suspendIBus(ibus);
    }
    if (const std::string named = NamedInputMethod(); !named.empty()) {
        return Result<bool>::failure(
            "the input method \"" + named +
            "\" is not one whose state can be asked (fcitx5, ibus), or it does not answer");
    }
    return Result<bool>::success(false);
}

Status DBusInputMethods::restore() {
    const auto suspended = impl_->suspended;
    impl_->suspended = Impl::Suspended::Nothing;
    const bool keysCameBack = impl_->keysCameBack && impl_->keysCameBack();
    // fcitx5 says whether the window talks to it through XIM; ibus does not, so where its XIM server
    // runs, a window whose keys the keyboard did not see come back (one that cannot be pinged, such as
    // xterm) may be reading them through it.
    const bool maybeThroughXim = (suspended == Impl::Suspended::Fcitx && impl_->focusedThroughXim) ||
                                 (suspended == Impl::Suspended::IBus && XimServerNamed());
    if (maybeThroughXim) {
        if (!keysCameBack) {
            std::this_thread::sleep_for(InFlightXimKeysBound);
        }
    } else if (suspended != Impl::Suspended::Nothing) {
        std::this_thread::sleep_for(InFlightKeysBound);
    }
    switch (suspended) {
        case Impl::Suspended::Fcitx:
            return impl_->restoreFcitx(QDBusConnection::sessionBus());
        case Impl::Suspended::IBus:
            return impl_->restoreIBus(impl_->ibusBus());
        case Impl::Suspended::Nothing:
            break;
    }
    return Status::success();
}

}  // namespace varnel
