// Varnel: puts the program together. The platform backends are chosen here: X11 where Qt runs on
// X11, Qt's own services elsewhere (the offscreen platform of the widget tests, for example).
#include <QtGui/qguiapplication_platform.h>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "QuitSignals.h"
#include "app/Options.h"
#include "core/AppState.h"
#include "delivery/Delivery.h"
#include "platform/Platform.h"
#include "platform/dbus/DBusInputMethods.h"
#include "platform/posix/IconvCodepage.h"
#include "platform/posix/PosixFiles.h"
#include "platform/qt/QtServices.h"
#include "platform/x11/X11Clipboard.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11WindowSystem.h"
#include "ui/main/MainWindow.h"
#ifdef VARNEL_WAYLAND
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTimer>
#include <chrono>

#include "platform/gnome/GnomeShell.h"
#include "platform/wayland/FakeInputKeyboard.h"
#include "platform/wayland/WaylandClipboard.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandWindowSystem.h"
#endif

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

void ReportNoDisplay(const std::string& why) {
    std::fprintf(stderr, "varnel: no display. Varnel is a desktop program and needs an X11 session (%s).\n",
                 why.c_str());
}

#ifdef VARNEL_WAYLAND
// Qt's Wayland platform plugin is a package of its own (qt6-wayland on Debian).
bool HasQtWaylandPlugin() {
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty();
}

// The index of KWin's keyboard layout in use, from its D-Bus interface (bounded at 200 ms).
std::optional<std::uint32_t> KWinActiveLayout() {
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.kde.keyboard"), QStringLiteral("/Layouts"),
                                       QStringLiteral("org.kde.KeyboardLayouts"),
                                       QStringLiteral("getLayout")),
        QDBus::Block, 200);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    bool ok = false;
    const uint index = reply.arguments().first().toUInt(&ok);
    return ok ? std::optional<std::uint32_t>(index) : std::nullopt;
}
#endif

// Why Varnel runs on XWayland in a Wayland session, and what the user can do about it; empty when the
// compositor could not be asked.
std::string g_whyXWayland;

#ifdef VARNEL_WAYLAND
// What the compositor lacks for running natively, and how to get it. KWin grants its window list and
// fake input only to a program whose desktop entry asks for them with its executable's absolute path.
std::string WhyNotNative(const varnel::wayland::OfferedProtocols& offered) {
    std::string why = "The compositor does not offer: " + offered.missing() + ".";
    if (offered.kde) {
        const std::string exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().toStdString();
        why += std::string(
                   "\nKWin grants them to programs that ask in their desktop entry. Install the "
                   "varnel package, whose /usr/share/applications/varnel.desktop carries\n"
                   "  X-KDE-Wayland-Interfaces=") +
               varnel::wayland::KWinGrantedInterfaces +
               "\nor, for a program started from elsewhere, put a desktop entry with that line and\n"
               "  Exec=" +
               exe + "\ninto ~/.local/share/applications, and start Varnel again.";
    }
    return why;
}

// GNOME Wayland offers what Varnel needs only through Varnel's GNOME Shell extension: natively where
// it runs, on XWayland otherwise, and then the notice says why and how to enable it.
bool GnomeShellServes() {
    std::string why;
    if (!varnel::gnome::IsGnomeWaylandSession() || varnel::gnome::ShellServiceRuns(&why)) {
        return varnel::gnome::IsGnomeWaylandSession();
    }
    g_whyXWayland = varnel::gnome::MissingServiceNotice(why);
    return false;
}

// After the Qt application has started on Wayland in a GNOME session: the extension's backends.
// False, with nothing changed, elsewhere or when the extension does not answer.
bool OpenGnomeShellBackends(varnel::EventPump& pump, varnel::WindowSystem& screen,
                            std::unique_ptr<varnel::WindowSystem>* windows,
                            std::unique_ptr<varnel::Clipboard>* clipboard,
                            std::unique_ptr<varnel::Keyboard>* keyboard,
                            std::unique_ptr<varnel::InputMethodControl>* inputMethod) {
    if (QGuiApplication::platformName() != QLatin1String("wayland") ||
        !varnel::gnome::IsGnomeWaylandSession()) {
        return false;
    }
    auto ownActive = [] {
        QWidget* active = QApplication::activeWindow();
        return active != nullptr ? static_cast<varnel::WindowHandle>(active->winId())
                                 : varnel::WindowHandle{0};
    };
    std::string why;
    auto backends = varnel::gnome::OpenBackends(pump, ownActive, screen, &why);
    if (!backends.windows) {
        std::fprintf(stderr, "varnel: %s\n", why.c_str());
        return false;
    }
    *windows = std::move(backends.windows);
    *clipboard = std::move(backends.clipboard);
    *keyboard = std::move(backends.keyboard);
    *inputMethod = std::move(backends.inputMethod);
    return true;
}
#endif

// Chooses where Qt runs before it starts. A Wayland session runs natively where the compositor offers
// the protocols the Wayland backends need (or there is no X11), and on XWayland otherwise, unless the
// user chose a platform. Returns 0, or the exit status when there is no display to run on.
// The X display's probe connection goes to *probe, to be held until Qt has connected.
int ChooseDisplay(bool* onXWayland, varnel::HeldX11Connection* probe) {
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (!chosen.isEmpty() && !chosen.startsWith("xcb")) {
        return 0;  // the user's choice (offscreen, for example)
    }
    const bool wayland = IsSet("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
#ifdef VARNEL_WAYLAND
    // Natively on Wayland where the compositor offers what sending needs, or where there is no X11
    // to fall back on (the native backends then say once what is missing).
    // (libwayland finds the compositor's socket in XDG_RUNTIME_DIR unless the name is a path.)
    const bool reachable =
        IsSet("WAYLAND_DISPLAY") && (IsSet("XDG_RUNTIME_DIR") || qgetenv("WAYLAND_DISPLAY").startsWith('/'));
    if (chosen.isEmpty() && reachable && HasQtWaylandPlugin() && GnomeShellServes()) {
        qputenv("QT_QPA_PLATFORM", "wayland");
        return 0;
    }
    if (chosen.isEmpty() && reachable && HasQtWaylandPlugin()) {
        const auto offered = varnel::wayland::ListOfferedProtocols(varnel::wayland::ConnectBound);
        if (offered && (offered->complete() || !IsSet("DISPLAY"))) {
            qputenv("QT_QPA_PLATFORM", "wayland");
            return 0;
        }
        if (offered && g_whyXWayland.empty()) {
            g_whyXWayland = WhyNotNative(*offered);
        }
    }
#endif
    if (!IsSet("DISPLAY")) {
#ifdef VARNEL_WAYLAND
        ReportNoDisplay(wayland ? "DISPLAY is not set, and the Wayland compositor could not be reached "
                                  "either natively or through XWayland"
                                : "DISPLAY is not set");
#else
        ReportNoDisplay(wayland ? "DISPLAY is not set: in a Wayland session Varnel runs on XWayland, "
                                  "which is not available here"
                                : "DISPLAY is not set");
#endif
        return 2;
    }
    if (const auto why = varnel::ProbeX11Display(probe)) {
        ReportNoDisplay(*why);
        return 2;
    }
    if (chosen.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    *onXWayland = wayland;
    return 0;
}

// The one line for a lost X server; the exit status is 1.
void ReportConnectionLost() {
    std::fprintf(stderr, "varnel: the connection to the X server was lost; Varnel ends.\n");
    std::fflush(stderr);
}

// Qt 6.4 reacts to a broken connection of its own with this warning and exit(1) on the GUI thread,
// with our worker threads still running and Qt's objects alive while static destructors run. The
// warning becomes our one line instead: our backends are shut down (the keyboard gives back what it
// remapped when its own connection still works), and the process ends at once, running nothing else.
QtMessageHandler g_qtHandler = nullptr;
std::function<void()> g_shutDownBackends;
// Set once the X server has gone: what Qt says after our one line (failed paints, shared memory it
// can no longer get) only repeats it.
std::atomic<bool> g_connectionLost{false};

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("The X11 connection broke"))) {
        varnel::NotifyX11ConnectionLost();
        if (g_shutDownBackends) {
            g_shutDownBackends();
        }
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_qtHandler != nullptr && !g_connectionLost) {
        g_qtHandler(type, context, message);
    }
}

// A message beside the main window that neither blocks nor keeps the program running.
std::unique_ptr<QMessageBox> ShowNotice(QMessageBox::Icon icon, const QString& title, const QString& text) {
    auto box = std::make_unique<QMessageBox>(icon, title, text);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_QuitOnClose, false);  // closing the main window still ends the program
    box->setWindowFlag(Qt::WindowStaysOnTopHint);  // the main window is topmost too
    box->show();
    return box;
}

std::unique_ptr<QMessageBox> ShowXWaylandNotice() {
    QString text = QStringLiteral(
        "Wayland のセッションのため、XWayland 上で動作しています。送信と変換が届くのは X11 の"
        "アプリケーションだけです。\n\n"
        "In a Wayland session Varnel runs on XWayland: sends and conversions reach only "
        "X11 applications.");
    if (!g_whyXWayland.empty()) {
        std::fprintf(stderr, "varnel: running on XWayland. %s\n", g_whyXWayland.c_str());
        text += QStringLiteral("\n\n") + QString::fromStdString(g_whyXWayland);
    }
    return ShowNotice(QMessageBox::Information, QStringLiteral("Varnel (XWayland)"), text);
}

// A slot file named on the command line that could not be loaded: one line on stderr and a notice.
// Capture stays off, as it does for a slot file that was loaded.
std::unique_ptr<QMessageBox> ReportSlotFileNotLoaded(const std::string& why) {
    std::fprintf(stderr, "varnel: the slot file was not loaded: %s\n", why.c_str());
    return ShowNotice(QMessageBox::Warning, QStringLiteral("Varnel (スロットファイル)"),
                      QStringLiteral("スロットファイルを読み込めませんでした。\n") +
                          QString::fromStdString(why) +
                          QStringLiteral("\n\nThe slot file could not be loaded."));
}

}  // namespace

int main(int argc, char** argv) {
    // A write to a connection whose peer has gone (the X server, a clipboard requestor) must fail
    // with EPIPE and take the lost-connection path, not kill the process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (const auto status = varnel::RunCommandLineOption(std::vector<std::string>(argv + 1, argv + argc))) {
        return *status;
    }
    bool onXWayland = false;
    varnel::HeldX11Connection probe;
    if (const int status = ChooseDisplay(&onXWayland, &probe); status != 0) {
        return status;
    }
    std::vector<std::string> arguments(argv + 1, argv + argc);
    QApplication app(argc, argv);
    probe.reset();  // Qt is connected now: the server no longer depends on the probe to stay up
    QApplication::setApplicationName(QStringLiteral("Varnel"));

    varnel::QtEventPump pump;
    std::unique_ptr<varnel::WindowSystem> windows;
    std::unique_ptr<varnel::Clipboard> clipboard;
    std::unique_ptr<varnel::Keyboard> keyboard;
    // X11 keys pass through the input method; on GNOME it tells whether the window takes committed text.
    std::unique_ptr<varnel::InputMethodControl> inputMethods;
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    if (x11) {
        // A lost connection, ours or Qt's, ends the run with status 1 and one line.
        varnel::SetX11ConnectionLostHandler([] {
            g_connectionLost = true;
            ReportConnectionLost();
            QMetaObject::invokeMethod(
                qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        });
        if (auto* native = qApp->nativeInterface<QNativeInterface::QX11Application>()) {
            varnel::WatchX11Connection(native->display());
        }
        g_qtHandler = qInstallMessageHandler(OnQtMessage);
        g_shutDownBackends = [&clipboard, &keyboard] {
            clipboard.reset();
            keyboard.reset();
        };

        std::string why;
        auto x11Windows = varnel::X11WindowSystem::open(&why);
        if (!x11Windows) {
            std::fprintf(stderr, "varnel: %s\n", why.c_str());
            return 2;
        }
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            x11Windows->setPlacementUnit(screen->devicePixelRatio(), screen->logicalDotsPerInchX());
            // Docking goes by the primary monitor, which Qt knows from RandR and the work area.
            const QRect area = screen->availableGeometry();
            x11Windows->setPrimaryMonitorArea({area.x(), area.y(), area.width(), area.height()});
        }
        windows = std::move(x11Windows);
        keyboard = varnel::X11Keyboard::open(&why);
        // Whether the keys of a typing came back through the XIM server, asked of the keyboard in use.
        inputMethods = std::make_unique<varnel::DBusInputMethods>([&keyboard] {
            const auto* x11 = dynamic_cast<const varnel::X11Keyboard*>(keyboard.get());
            return x11 != nullptr && x11->keysPassedInputMethod();
        });
        if (!keyboard) {
            std::fprintf(stderr, "varnel: keyboard: %s; slots cannot be sent\n", why.c_str());
        }
        clipboard = varnel::X11Clipboard::open(pump, &why);
        if (!clipboard) {
            std::fprintf(stderr, "varnel: clipboard: %s; falling back to Qt's clipboard\n", why.c_str());
        }
    }
#ifdef VARNEL_WAYLAND
    // Native Wayland: the compositor's data-control, foreign-toplevel and virtual-keyboard protocols,
    // or on KWin data control, plasma window management and fake input. Where one is missing, what it serves
    // falls back to Qt's stand-ins, and the user is told once.
    varnel::QtWindowSystem qtScreen;
    const bool onGnomeShell =
        OpenGnomeShellBackends(pump, qtScreen, &windows, &clipboard, &keyboard, &inputMethods);
    if (!onGnomeShell && QGuiApplication::platformName() == QLatin1String("wayland")) {
        if (QGuiApplication::desktopFileName().isEmpty()) {
            QGuiApplication::setDesktopFileName(QStringLiteral("varnel"));  // our toplevels' app_id
        }
        std::string why, missing;
        auto ownActive = [] {  // a popup (the slot menu) leaves its window the active one
            QWidget* active = QApplication::activeWindow();
            return active != nullptr ? static_cast<varnel::WindowHandle>(active->winId())
                                     : varnel::WindowHandle{0};
        };
        windows = varnel::WaylandWindowSystem::open(QGuiApplication::desktopFileName().toStdString(),
                                                    ownActive, qtScreen, &why);
        missing += windows ? "" : "\n  windows: " + why;
        clipboard = varnel::WaylandClipboard::open(pump, &why);
        missing += clipboard ? "" : "\n  clipboard: " + why;
        keyboard = varnel::WaylandKeyboard::open(&why);
        if (!keyboard && clipboard) {
            std::string fakeInputWhy;
            keyboard = varnel::FakeInputKeyboard::open(*clipboard, KWinActiveLayout, &fakeInputWhy);
            why += keyboard ? "" : "; " + fakeInputWhy;
            if (keyboard) {  // KWin hands fake keys to the input method, as the X server does
                inputMethods = std::make_unique<varnel::DBusInputMethods>();
            }
        }
        missing += keyboard ? "" : "\n  keys: " + why;
        if (!missing.empty()) {
            const std::string message =
                "This Wayland compositor does not offer everything Varnel needs:" + missing +
                "\nSending slots and converting selections need a compositor with these "
                "protocols (sway and other wlroots compositors; KWin for a program its desktop entry "
                "grants them), or an X11 (XWayland) target with Varnel started under X11 "
                "(QT_QPA_PLATFORM=xcb).";
            std::fprintf(stderr, "varnel: %s\n", message.c_str());
            QTimer::singleShot(0, [message] {
                auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Varnel"),
                                            QString::fromStdString(message));
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->show();
            });
        }
    }
#endif
    if (!windows) {
        windows = std::make_unique<varnel::QtWindowSystem>();
    }
    if (!clipboard) {
        clipboard = std::make_unique<varnel::QtClipboard>();
    }
    if (!keyboard) {
        keyboard = std::make_unique<varnel::UnavailableKeyboard>();
    }
    varnel::PosixFiles files(arguments);
    varnel::IconvCodepage codepage;
    varnel::SteadyClock clock;

    varnel::AppState state;
    varnel::MainWindowState members;
    varnel::MainWindow window(state, members);
    varnel::QtTickTimer timer(window.tickTimer());
    varnel::Platform platform{*windows, *clipboard, *keyboard,         pump, timer, files,
                              codepage, clock,      inputMethods.get()};
    window.attach(platform);
    const varnel::Status loaded = window.load();
    std::unique_ptr<QMessageBox> notice;
    if (x11 && onXWayland) {
        notice = ShowXWaylandNotice();
    }
    std::unique_ptr<QMessageBox> slotFileNotice;
    if (!loaded) {
        slotFileNotice = ReportSlotFileNotLoaded(loaded.error());
    }
    // A clipboard change is captured at once on the window's thread, not at the next tick.
    clipboard->setChangeListener([&window] {
        QMetaObject::invokeMethod(
            &window, [&window] { window.clipboardChanged(); }, Qt::QueuedConnection);
    });
    // SIGTERM, SIGINT, SIGHUP: the running delivery stops at its next yield (a typing releases its
    // keys and gives the keymap and Caps Lock back), then the event loop ends; status 128 + signal.
    varnel::QuitSignals quitSignals([&window](int signalNumber) {
        varnel::ShutDownDeliveries(window.context());
        QCoreApplication::exit(128 + signalNumber);
    });
    const int status = QApplication::exec();
    clipboard->setChangeListener(nullptr);
    if (!g_connectionLost) {
        // The text we put on the clipboard outlives us where that can be.
        if (const varnel::Status handedOver = clipboard->handOverAtExit(); !handedOver) {
            std::fprintf(stderr, "varnel: the text on the clipboard ends with Varnel: %s\n",
                         handedOver.error().c_str());
        }
    }
    g_shutDownBackends = nullptr;
    return status;
}
