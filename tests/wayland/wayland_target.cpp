// A native Wayland text window for the session tests: a plain text box whose whole text is written to a
// file once changes pause for 20 ms (so that the file costs little while keys arrive). Arguments: APP_ID
// OUTPUT_FILE [INITIAL_TEXT, selected at start].
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
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
    if (argc > 3) {
        edit.setPlainText(QString::fromUtf8(argv[3]));
        edit.selectAll();
    }
    save();
    edit.show();
    return QApplication::exec();
}
