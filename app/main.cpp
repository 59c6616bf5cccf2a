// Varnel: puts the program together. The platform backends are chosen here: X11 where Qt runs on
// X11, Qt's own services elsewhere (the offscreen platform of the widget tests, for example).
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/Options.h"
#include "core/AppState.h"
#include "platform/Platform.h"
#include "platform/posix/IconvCodepage.h"
#include "platform/posix/PosixFiles.h"
#include "platform/qt/QtServices.h"
#include "platform/x11/X11Clipboard.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11WindowSystem.h"
#include "ui/main/MainWindow.h"
#ifdef VARNEL_WAYLAND
#include <QMessageBox>
#include <QTimer>

#include "platform/wayland/WaylandClipboard.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandWindowSystem.h"
#endif

namespace {

bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') {
        return true;
    }
    const char* x11 = std::getenv("DISPLAY");
    return x11 != nullptr && *x11 != '\0';
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = varnel::RunCommandLineOption(std::vector<std::string>(argv + 1, argv + argc))) {
        return *status;
    }
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "varnel: no display. Varnel is a desktop program and needs an X11 session "
                     "(DISPLAY is not set).\n");
        return 2;
    }
    std::vector<std::string> arguments(argv + 1, argv + argc);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnel"));

    varnel::QtEventPump pump;
    std::unique_ptr<varnel::WindowSystem> windows;
    std::unique_ptr<varnel::Clipboard> clipboard;
    std::unique_ptr<varnel::Keyboard> keyboard;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        std::string why;
        windows = varnel::X11WindowSystem::open(&why);
        if (!windows) {
            std::fprintf(stderr, "varnel: %s\n", why.c_str());
            return 2;
        }
        keyboard = varnel::X11Keyboard::open(&why);
        if (!keyboard) {
            std::fprintf(stderr, "varnel: keyboard: %s; slots cannot be sent\n", why.c_str());
        }
        clipboard = varnel::X11Clipboard::open(pump, &why);
        if (!clipboard) {
            std::fprintf(stderr, "varnel: clipboard: %s; falling back to Qt's clipboard\n", why.c_str());
        }
    }
#ifdef VARNEL_WAYLAND
    // Native Wayland: the compositor's data-control, foreign-toplevel and virtual-keyboard protocols.
    // Where one is missing, what it serves falls back to Qt's stand-ins, and the user is told once.
    varnel::QtWindowSystem qtScreen;
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
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
        missing += keyboard ? "" : "\n  keys: " + why;
        if (!missing.empty()) {
            const std::string message =
                "This Wayland compositor does not offer everything Varnel needs:" + missing +
                "\nSending slots and converting selections need a compositor with these "
                "protocols (sway and other wlroots compositors), or an X11 (XWayland) "
                "target with Varnel started under X11 (QT_QPA_PLATFORM=xcb).";
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
    varnel::Form1Members members;
    varnel::MainWindow window(state, members);
    varnel::QtTickTimer timer(window.timer1());
    varnel::Platform platform{*windows, *clipboard, *keyboard, pump, timer, files, codepage, clock};
    window.attach(platform);
    window.load();
    return QApplication::exec();
}
