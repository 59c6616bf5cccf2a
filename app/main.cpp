// Varnel: puts the program together. The platform backends are chosen here: X11 where Qt runs on
// X11, Qt's own services elsewhere (the offscreen platform of the widget tests, for example).
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "QuitSignals.h"
#include "core/AppState.h"
#include "delivery/Delivery.h"
#include "platform/Platform.h"
#include "platform/posix/IconvCodepage.h"
#include "platform/posix/PosixFiles.h"
#include "platform/qt/QtServices.h"
#include "platform/x11/X11Clipboard.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11WindowSystem.h"
#include "ui/main/MainWindow.h"

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

    // SIGTERM, SIGINT, SIGHUP: the running delivery stops at its next yield (a typing releases its
    // keys and gives the keymap and Caps Lock back), then the event loop ends; status 128 + signal.
    varnel::QuitSignals quitSignals([&window](int signalNumber) {
        varnel::ShutDownDeliveries(window.context());
        QCoreApplication::exit(128 + signalNumber);
    });
    return QApplication::exec();
}
