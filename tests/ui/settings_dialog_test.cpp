// The settings dialog against its layout, and opened from a real main window over fake services:
// FillSettingsDialog, OK, Cancel, the close box, clear all, reopening.
#include <QAccessible>
#include <QFontDatabase>
#include <QPointer>
#include <QtTest>

#include "fakes/FakePlatform.h"
#include "platform/qt/QtServices.h"
#include "ui/main/MainWindow.h"
#include "ui/settings/SettingsDialog.h"
#include "ui/settings/SettingsDialogHost.h"

using namespace varnel;

namespace {

constexpr WindowHandle UserWindow = 0x600;

struct Opened {
    fake::CallLog log;
    fake::WindowSystem windows{log};
    fake::Clipboard clipboard{log};
    fake::Keyboard keyboard{log};
    QtEventPump pump;
    fake::TickTimer timer{log};
    fake::Files files{log};
    fake::Codepage codepage{log};
    SteadyClock clock;
    AppState state;
    MainWindowState members;
    MainWindow window{state, members};
    Platform platform{windows, clipboard, keyboard, pump, timer, files, codepage, clock};
    std::optional<SettingsDialogHost> host;

    explicit Opened(bool open = true) {
        window.attach(platform);
        static_cast<void>(window.load());  // no slot file is named: nothing to fail
        window.tickTimer().stop();         // no capture tick moves TargetWindow behind the test's back
        windows.existing = {UserWindow};
        state.TargetWindow = UserWindow;
        host.emplace(window.context());
        log.clear();
        if (open) {
            host->OpenSettingsDialog();
        }
    }
    SettingsDialog& dialog() { return *host->dialog(); }
    // The close handling ran this often: it switches the tick timer on as its last step.
    int closeHandlings() const { return log.count("timer.on"); }
};

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

    Twips twips{96.0};
    QRect at(int left, int top, int width, int height) { return twips.rect(left, top, width, height); }

  private slots:
    void windowIsAFixedTopmostDialogAtItsDesignPlace() {
        Opened o;
        SettingsDialog& d = o.dialog();
        QVERIFY(d.isVisible());
        QCOMPARE(d.objectName(), QStringLiteral("settingsDialog"));
        QCOMPARE(d.windowTitle(), QStringLiteral("Varnelの詳細設定"));
        QCOMPARE(d.windowType(), Qt::Dialog);
        const Qt::WindowFlags flags = d.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(d.parentWidget() == nullptr);
        QCOMPARE(d.geometry(), at(4965, 1845, 4350, 6315));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        // Made topmost once it was shown, by its own window handle.
        QCOMPARE(o.log.count("setZOrder " + std::to_string(static_cast<WindowHandle>(d.winId())) + " 1"), 1);
    }

    void controlsAreLaidOutAsDesigned() {
        Opened o;
        SettingsDialog& d = o.dialog();
        struct Row {
            QWidget* widget;
            QWidget* parent;
            QRect rect;
            QString caption;
        };
        const Row rows[] = {
            {d.versionFrame(), &d, at(120, 120, 4095, 615), "ﾊﾞｰｼﾞｮﾝ情報"},
            {d.versionLabel(), d.versionFrame(), at(240, 270, 3615, 255), "Varnel Version 1.1"},
            {d.sendModeFrame(), &d, at(120, 960, 4095, 1335), "貼付方法"},
            {d.sendModeButton(0), d.sendModeFrame(), at(240, 240, 3735, 255), "クリップボードのペースト"},
            {d.sendModeButton(1), d.sendModeFrame(), at(240, 600, 3735, 375), "キーストロークの送信"},
            {d.imeLabel(), d.sendModeFrame(), at(360, 960, 3615, 255),
             QString::fromUtf16(u"\u3000\uFF08貼付先のIMEは必ずオフにしてください\uFF01\uFF09")},
            {d.captureFrame(), &d, at(120, 2520, 4095, 735), "クリップボードの自動取得"},
            {d.captureBox(), d.captureFrame(), at(240, 240, 1095, 375), "実行する"},
            {d.rotationLabel(), d.captureFrame(), at(1560, 315, 2415, 255),
             QString::fromUtf16(u"割当て\uFF1A\u30001\uFF5E") + QString(8, QChar(0x3000)) + "まで"},
            {d.rotationCountBox(), d.captureFrame(), at(2640, 240, 735, 345), ""},
            {d.displayFrame(), &d, at(120, 3480, 4095, 975), "ウィンドウ表示"},
            {d.displaySizeButton(0), d.displayFrame(), at(240, 240, 1695, 255), "通常表示（5行）"},
            {d.displaySizeButton(1), d.displayFrame(), at(2160, 240, 1815, 255), "ボタン表示のみ"},
            {d.displaySizeButton(2), d.displayFrame(), at(240, 600, 1695, 255), "全体表示（10行）"},
            {d.clearFrame(), &d, at(120, 4680, 4095, 735), "内容消去"},
            {d.clearAllButton(), d.clearFrame(), at(240, 240, 1455, 375), "全消去実行"},
            {d.okButton(), &d, at(360, 5760, 1455, 375), "決定"},
            {d.cancelButton(), &d, at(2520, 5760, 1455, 375), "キャンセル"},
        };
        for (const Row& row : rows) {
            QCOMPARE(row.widget->parentWidget(), row.parent);
            // A box grows where its text needs it: to the right, about its row's middle, and
            // the rotation label to the left into free room; it never moves otherwise.
            const QRect g = row.widget->geometry();
            QVERIFY(row.widget == d.rotationLabel() ? g.left() <= row.rect.left()
                                                    : g.left() == row.rect.left());
            QVERIFY(g.width() >= row.rect.width() && g.height() >= row.rect.height());
            QVERIFY(qAbs(g.center().y() - row.rect.center().y()) <= 1);
            QString caption;
            if (auto* frame = qobject_cast<QGroupBox*>(row.widget)) {
                caption = frame->title();
            } else if (auto* label = qobject_cast<QLabel*>(row.widget)) {
                caption = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(row.widget)) {
                caption = button->text();
            }
            QCOMPARE(caption, row.caption);
        }
        // The combo box lies over the rotation label's gap.
        const QWidgetList stack = d.captureFrame()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QVERIFY(stack.indexOf(d.rotationCountBox()) > stack.indexOf(d.rotationLabel()));

        QComboBox* combo = d.rotationCountBox();
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->insertPolicy(), QComboBox::NoInsert);
        QCOMPARE(combo->count(), 10);
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(combo->itemText(i), QString::number(i + 1));
        }
        QCOMPARE(combo->font().pointSizeF(), 11.25);
        for (QPushButton* b : {d.okButton(), d.cancelButton(), d.clearAllButton()}) {
            QVERIFY(!b->isDefault() && !b->autoDefault());
        }
    }

    void everyTextFitsWithEveryJapaneseFont() {
        // The IPA faces and the desktop's default face, at the scale the test runs at (it also runs
        // with a scale factor of 1.5): no text is cut off, the captions stand on the frames' top
        // edges clear of the first rows, and the combo box stands between "～" and "まで".
        Opened o;
        SettingsDialog& d = o.dialog();
        QStringList families{QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()};
        for (const char* family : {"IPAPGothic", "IPAGothic", "Noto Sans CJK JP"}) {
            if (QFontDatabase::families().contains(QString::fromLatin1(family))) {
                families << QString::fromLatin1(family);
            }
        }
        for (const QString& family : families) {
            QFont font(family);
            font.setPointSizeF(9);
            d.setFont(font);
            const QByteArray which = family.toUtf8();
            QList<QWidget*> texts;
            for (QLabel* label : d.findChildren<QLabel*>()) {
                texts << label;
            }
            for (QAbstractButton* button : d.findChildren<QAbstractButton*>()) {
                texts << button;
            }
            for (QWidget* w : texts) {
                const QSize hint = w->sizeHint();
                QVERIFY2(hint.width() <= w->width() && hint.height() <= w->height(),
                         which + " " + w->objectName().toUtf8());
                QVERIFY2(w->parentWidget()->rect().contains(w->geometry()),
                         which + " " + w->objectName().toUtf8());
            }
            for (CaptionFrame* frame : d.findChildren<CaptionFrame*>()) {
                QVERIFY(frame->minimumSizeHint().width() <= frame->width());
                QVERIFY(d.rect().contains(frame->geometry()));
                QVERIFY(frame->borderTop() > 0 && frame->borderTop() < frame->captionRect().bottom());
                for (QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                    QVERIFY2(child->y() >= frame->borderTop() + 4,
                             which + " " + child->objectName().toUtf8());
                }
            }
            GapLabel* label = d.rotationLabel();
            const QRect combo = d.rotationCountBox()->geometry();
            QVERIFY2(label->x() + label->fontMetrics().horizontalAdvance(label->head()) < combo.left(),
                     which);
            QVERIFY2(label->x() + label->tailLeft() > combo.right(), which);
            QCOMPARE(label->head() + QString(8, QChar(0x3000)) + label->tail(), label->text());
        }
    }

    void tabOrderReadsTopToBottom() {
        Opened o;
        SettingsDialog& d = o.dialog();
        const QList<QWidget*> expected{d.sendModeButton(0),    d.sendModeButton(1),    d.captureBox(),
                                       d.rotationCountBox(),   d.displaySizeButton(0), d.displaySizeButton(1),
                                       d.displaySizeButton(2), d.clearAllButton(),     d.okButton(),
                                       d.cancelButton()};
        QList<QWidget*> chain;
        QWidget* w = expected.front();
        do {
            if (expected.contains(w) && !chain.contains(w)) {
                chain.push_back(w);
            }
            w = w->nextInFocusChain();
        } while (w != expected.front());
        QCOMPARE(chain, expected);
        for (QWidget* w : chain) {
            QVERIFY(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty());
        }
    }

    void formLoadShowsTheStateEveryOpening() {
        Opened o;
        SettingsDialog& d = o.dialog();
        QVERIFY(d.sendModeButton(0)->isChecked() && !d.sendModeButton(1)->isChecked());
        QVERIFY(d.displaySizeButton(0)->isChecked() && !d.displaySizeButton(1)->isChecked() &&
                !d.displaySizeButton(2)->isChecked());
        QVERIFY(d.captureBox()->isChecked());
        QCOMPARE(d.rotationCountBox()->currentText(), QStringLiteral(" 1"));
        QCOMPARE(o.state.SavedTarget, UserWindow);

        // Changes the user makes and cancels do not survive into the next opening.
        d.sendModeButton(1)->setChecked(true);
        d.captureBox()->setChecked(false);
        d.rotationCountBox()->setEditText(QStringLiteral("7"));
        QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
        o.state.CaptureEnabled = false;  // as after a slot file
        o.state.DisplayMode = DisplaySize::TenRows;
        o.state.RotationCount = -3;
        o.host->OpenSettingsDialog();
        SettingsDialog& again = o.dialog();
        QVERIFY(again.sendModeButton(0)->isChecked() && !again.sendModeButton(1)->isChecked());
        QVERIFY(again.displaySizeButton(2)->isChecked());
        QVERIFY(!again.captureBox()->isChecked());
        QCOMPARE(again.rotationCountBox()->currentText(), QStringLiteral("-3"));
    }

    void okAppliesAndCloses() {
        Opened o;
        QPointer<SettingsDialog> d = &o.dialog();
        o.window.slotEdit(2)->setExactText(u"kept");
        d->sendModeButton(1)->setChecked(true);
        d->displaySizeButton(1)->setChecked(true);
        d->rotationCountBox()->setEditText(QStringLiteral("3"));
        QTest::mouseClick(d->okButton(), Qt::LeftButton);

        QCOMPARE(o.state.SendMode, SendByKeystrokes);
        QCOMPARE(o.state.DisplayMode, DisplaySize::ButtonsOnly);
        QVERIFY(o.state.CaptureEnabled);
        QCOMPARE(o.state.RotationCount, 3);
        QCOMPARE(o.window.size(), QSize(twips.px(3720), twips.px(480)));
        for (int i = 1; i <= 10; ++i) {
            const QColor expected =
                i <= 3 ? MainWindow::CaptureColour : o.window.palette().color(QPalette::Base);
            QCOMPARE(o.window.slotEdit(i)->palette().color(QPalette::Base), expected);
        }
        QVERIFY(o.window.text(2) == u"kept");
        QCOMPARE(o.closeHandlings(), 1);
        QCOMPARE(o.windows.foreground, UserWindow);
        QVERIFY(o.host->dialog() == nullptr);
        QTRY_VERIFY(d.isNull());  // destroyed once the event loop is back
    }

    void cancelAndCloseBoxApplyNothingAndCloseOnce() {
        for (const bool closeBox : {false, true}) {
            Opened o;
            const AppState before = o.state;
            SettingsDialog& d = o.dialog();
            d.displaySizeButton(2)->setChecked(true);
            d.captureBox()->setChecked(false);
            d.rotationCountBox()->setEditText(QStringLiteral("9"));
            if (closeBox) {
                d.close();  // what the window manager's close box does
            } else {
                QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
            }
            QCOMPARE(o.state.DisplayMode, before.DisplayMode);
            QCOMPARE(o.state.CaptureEnabled, before.CaptureEnabled);
            QCOMPARE(o.state.RotationCount, before.RotationCount);
            QCOMPARE(o.window.size(), QSize(twips.px(3720), twips.px(2970)));
            QCOMPARE(o.closeHandlings(), 1);
            QVERIFY(o.host->dialog() == nullptr);
            o.host->unload();  // nothing more to close
            QCOMPARE(o.closeHandlings(), 1);
        }
    }

    void clearAllEmptiesTheSlotsAndStaysOpen() {
        Opened o;
        for (int i = 1; i <= 10; ++i) {
            o.window.slotEdit(i)->setExactText(u"text");
        }
        o.members.LastClipboardText = u"last";
        QTest::mouseClick(o.dialog().clearAllButton(), Qt::LeftButton);
        for (int i = 1; i <= 10; ++i) {
            QVERIFY(o.window.text(static_cast<std::int16_t>(i)).empty());
        }
        QVERIFY(o.members.LastClipboardText == u"last");
        QVERIFY(o.dialog().isVisible());
        QCOMPARE(o.closeHandlings(), 0);
        // A later Cancel brings nothing back.
        QTest::mouseClick(o.dialog().cancelButton(), Qt::LeftButton);
        QVERIFY(o.window.text(1).empty());
    }

    void enterPressesOnlyTheFocusedButtonAndEscapeNothing() {
        Opened o;
        SettingsDialog& d = o.dialog();
        d.rotationCountBox()->setEditText(QStringLiteral("5"));
        d.rotationCountBox()->setFocus();
        QTest::keyClick(d.rotationCountBox(), Qt::Key_Return);
        d.sendModeButton(1)->setFocus();
        QTest::keyClick(d.sendModeButton(1), Qt::Key_Enter);
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(o.host->dialog() != nullptr);
        QCOMPARE(o.closeHandlings(), 0);
        d.okButton()->setFocus();
        QTest::keyClick(d.okButton(), Qt::Key_Return);
        QVERIFY(o.host->dialog() == nullptr);
        QCOMPARE(o.state.RotationCount, 5);
    }

    void settingsButtonWhileOpenOnlyBringsItToTheFront() {
        Opened o;
        SettingsDialog* first = &o.dialog();
        first->rotationCountBox()->setEditText(QStringLiteral("4"));
        const WindowHandle own = static_cast<WindowHandle>(first->winId());
        const WindowHandle saved = o.state.SavedTarget;
        o.state.TargetWindow = own;  // the tick recorded the dialog
        o.host->OpenSettingsDialog();
        QCOMPARE(o.host->dialog(), first);
        QCOMPARE(first->rotationCountBox()->currentText(), QStringLiteral("4"));
        QCOMPARE(o.state.SavedTarget, saved);  // the focus will not go to the dialog as it closes
        QCOMPARE(o.log.count("makeForeground " + std::to_string(own)), 1);
    }

    void mainWindowUnloadClosesTheDialogOnce() {
        Opened o;
        o.host->unload();
        QVERIFY(o.host->dialog() == nullptr);
        QCOMPARE(o.closeHandlings(), 1);
        QCOMPARE(o.windows.foreground, UserWindow);

        Opened never(false);
        never.host->unload();
        QCOMPARE(never.closeHandlings(), 0);
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
