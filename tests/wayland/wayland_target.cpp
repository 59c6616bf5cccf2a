// A native Wayland text window for the session tests: a plain text box whose whole text is written to a
// file once changes pause for 20 ms (so that the file costs little while keys arrive). Arguments: APP_ID
// OUTPUT_FILE [INITIAL_TEXT, selected at start]. On SIGUSR1 it puts the text of OUTPUT_FILE.copy on the
// clipboard, as a copy in it would.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

namespace {

int copyRequests[2] = {-1, -1};

void RequestCopy(int) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(copyRequests[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3 || pipe2(copyRequests, O_CLOEXEC | O_NONBLOCK) != 0) {
        return 2;
    }
    QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[1]));
    const QString output = QString::fromLocal8Bit(argv[2]);
    QPlainTextEdit edit;
    edit.setWindowTitle(QString::fromLocal8Bit(argv[1]));
    auto save = [&edit, output] {
        QSaveFile file(output);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(edit.toPlainText().toUtf8());
            file.commit();
        }
    };
    QTimer pause;
    pause.setSingleShot(true);
    pause.setInterval(20);
    QObject::connect(&pause, &QTimer::timeout, save);
    QObject::connect(&edit, &QPlainTextEdit::textChanged, &pause, qOverload<>(&QTimer::start));
    QSocketNotifier copyNotifier(copyRequests[0], QSocketNotifier::Read);
    QObject::connect(&copyNotifier, &QSocketNotifier::activated, [output] {
        char byte = 0;
        while (read(copyRequests[0], &byte, 1) > 0) {
        }
        QFile source(output + QStringLiteral(".copy"));
        if (source.open(QIODevice::ReadOnly)) {
            QGuiApplication::clipboard()->setText(QString::fromUtf8(source.readAll()));
        }
    });
    signal(SIGUSR1, RequestCopy);
    if (argc > 3) {
        edit.setPlainText(QString::fromUtf8(argv[3]));
        edit.selectAll();
    }
    save();
    edit.show();
    return QApplication::exec();
}
