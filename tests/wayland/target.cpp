// A native Wayland text window for the session tests: a plain text box whose whole text is written to a
// file after every change. Arguments: APP_ID OUTPUT_FILE [INITIAL_TEXT, selected at start].
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QSaveFile>

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
    QObject::connect(&edit, &QPlainTextEdit::textChanged, save);
    if (argc > 3) {
        edit.setPlainText(QString::fromUtf8(argv[3]));
        edit.selectAll();
    }
    save();
    edit.show();
    return QApplication::exec();
}
