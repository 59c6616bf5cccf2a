// The slot edit dialog against its layout, its keys and its ways of closing.
#include <QPointer>
#include <QScrollBar>
#include <QtTest>

#include "fakes/FakePlatform.h"
#include "ui/edit/EditDialogHost.h"

using namespace varnel;

class EditDialogTest : public QObject {
    Q_OBJECT

    static constexpr WindowHandle Target = 0x200;

    struct Opened {
        fake::World w;
        EditDialogHost host{w.ctx};
        EditDialog* dialog = nullptr;
        explicit Opened(std::int16_t slot = 2) {
            w.startValues();
            w.windows.existing = {Target, w.form.handle};
            w.state.TargetWindow = Target;
            for (int i = 0; i < 10; ++i) {
                w.form.texts[i] = u"slot text";
            }
            w.form.texts[slot - 1] = u"first\r\nsecond\u00a0line";
            host.OpenEditDialog(slot);
            dialog = host.dialog();
        }
    };

    Twips twips{96.0};

    static QWidget* nextTabStop(QWidget* w) {
        QWidget* next = w->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus)) {
            next = next->nextInFocusChain();
        }
        return next;
    }
    static void flushDeletions() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  private slots:
    void dialogIsLaidOutAsDesigned() {
        Opened o;
        EditDialog* d = o.dialog;
        QVERIFY(d != nullptr);
        QVERIFY(d->isVisible() && d->isWindow());
        QVERIFY(d->parentWidget() == nullptr);
        QCOMPARE(d->windowTitle(), QStringLiteral("テキストの編集（2）"));
        QCOMPARE(d->size(), QSize(twips.px(4680), twips.px(3345)));
        const Qt::WindowFlags flags = d->windowFlags();
        for (auto hint : {Qt::WindowTitleHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
                          Qt::WindowCloseButtonHint, Qt::WindowStaysOnTopHint}) {
            QVERIFY(flags.testFlag(hint));
        }
        // An empty icon: without one the window manager would be handed a generic one.
        const QImage icon = d->windowIcon().pixmap(16).toImage();
        QVERIFY(!icon.isNull() && qAlpha(icon.pixel(8, 8)) == 0);
        QVERIFY(o.w.log.count("setZOrder " + std::to_string(d->winId()) + " 1") == 1);
        for (QPushButton* b : {d->okButton(), d->cancelButton()}) {  // no caption cut off
            QVERIFY(b->sizeHint().width() <= b->width() && b->sizeHint().height() <= b->height());
        }

        QCOMPARE(d->textBox()->geometry(), twips.rect(120, 120, 4455, 2535));
        QCOMPARE(d->textBox()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(d->textBox()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(d->textBox()->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(d->textBox()->blockCount(), 2);
        QVERIFY(o.host.text() == u"first\r\nsecond\u00a0line");
        QCOMPARE(d->okButton()->geometry(), twips.rect(480, 2760, 1575, 495));
        QCOMPARE(d->cancelButton()->geometry(), twips.rect(2640, 2760, 1575, 495));
        QCOMPARE(d->okButton()->text(), QStringLiteral("Ｏ Ｋ"));
        QCOMPARE(d->cancelButton()->text(), QStringLiteral("キャンセル"));
        for (QPushButton* b : {d->okButton(), d->cancelButton()}) {
            QVERIFY(!b->isDefault() && !b->autoDefault());
        }
        QCOMPARE(nextTabStop(d->textBox()), static_cast<QWidget*>(d->okButton()));
        QCOMPARE(nextTabStop(d->okButton()), static_cast<QWidget*>(d->cancelButton()));
        QCOMPARE(nextTabStop(d->cancelButton()), static_cast<QWidget*>(d->textBox()));

        // Controls keep their places and sizes whatever size the window is given.
        d->resize(twips.px(9000), twips.px(1500));
        QCOMPARE(d->textBox()->geometry(), twips.rect(120, 120, 4455, 2535));
        QCOMPARE(d->cancelButton()->geometry(), twips.rect(2640, 2760, 1575, 495));
    }

    void enterMakesANewLineAndEscapeLeavesTheDialogOpen() {
        Opened o;
        QPlainTextEdit* text = o.dialog->textBox();
        text->selectAll();
        QTest::keyClicks(text, QStringLiteral("ab"));
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClick(text, Qt::Key_Enter);
        QTest::keyClicks(text, QStringLiteral("cd"));
        QTest::keyClick(text, Qt::Key_Escape);
        QTest::keyClick(o.dialog, Qt::Key_Escape);
        QCOMPARE(o.host.dialog(), o.dialog);
        QVERIFY(o.w.form.texts[1] == u"first\r\nsecond\u00a0line");

        QTest::mouseClick(o.dialog->okButton(), Qt::LeftButton);
        QVERIFY(o.w.form.texts[1] == u"ab\n\ncd");
        QVERIFY(o.host.dialog() == nullptr);
    }

    void okKeepsAnUneditedTextExactly() {
        Opened o;
        // An edit that is taken back leaves the text as it came, line ends and no-break space included.
        QTest::keyClicks(o.dialog->textBox(), QStringLiteral("x"));
        QTest::keyClick(o.dialog->textBox(), Qt::Key_Backspace);
        QTest::mouseClick(o.dialog->okButton(), Qt::LeftButton);
        QVERIFY(o.w.form.texts[1] == u"first\r\nsecond\u00a0line");
        // An edited text has line feeds between its lines and keeps its no-break spaces.
        o.host.OpenEditDialog(2);
        QTest::keyClicks(o.host.dialog()->textBox(), QStringLiteral("x"));
        QTest::mouseClick(o.host.dialog()->okButton(), Qt::LeftButton);
        QVERIFY(o.w.form.texts[1] == u"xfirst\nsecond\u00a0line");
    }

    void aHugeTextIsShownInPartAndKeptWhole() {
        Opened o;
        // Long enough to be shown in part, with a surrogate pair across the cut.
        std::u16string huge(EditDialog::DisplayLimit - 1, u'a');
        huge += u"\U0001F600 and the rest\r\nof it";
        o.w.form.texts[3] = huge;
        o.host.OpenEditDialog(4);
        QPlainTextEdit* box = o.host.dialog()->textBox();
        QVERIFY(o.host.dialog()->showsPart() && box->isReadOnly());
        QCOMPARE(box->toPlainText(),
                 QString(EditDialog::DisplayLimit - 1, QLatin1Char('a')) + QStringLiteral("…"));
        QTest::keyClicks(box, QStringLiteral("typed"));  // read-only: nothing changes
        QTest::mouseClick(o.host.dialog()->okButton(), Qt::LeftButton);
        QVERIFY(o.w.form.texts[3] == huge);
        // So is a text of too many lines, however short.
        std::u16string lines;
        for (std::size_t i = 0; i <= EditDialog::DisplayLines; ++i) {
            lines += u"x\r\n";
        }
        o.w.form.texts[4] = lines;
        o.host.OpenEditDialog(5);
        QVERIFY(o.host.dialog()->showsPart() && o.host.dialog()->textBox()->isReadOnly());
        QCOMPARE(o.host.dialog()->textBox()->blockCount(), static_cast<int>(EditDialog::DisplayLines));
        QTest::mouseClick(o.host.dialog()->okButton(), Qt::LeftButton);
        QVERIFY(o.w.form.texts[4] == lines);
        // A text that fits is editable again in the next dialog.
        o.host.OpenEditDialog(2);
        QVERIFY(!o.host.dialog()->showsPart() && !o.host.dialog()->textBox()->isReadOnly());
    }

    void closeBoxAndCancelDiscardTheTextAndDestroyTheDialog() {
        Opened o;
        QPointer<EditDialog> first = o.dialog;
        QTest::keyClicks(first->textBox(), QStringLiteral("discarded"));
        o.w.windows.foreground = static_cast<WindowHandle>(first->winId());
        QVERIFY(first->close() == false);  // the host destroys it, not the close itself
        QVERIFY(o.w.form.texts[1] == u"first\r\nsecond\u00a0line");
        QCOMPARE(o.w.log.count("timer.on"), 1);
        QCOMPARE(o.w.windows.foreground, Target);
        QVERIFY(o.host.dialog() == nullptr);
        QVERIFY(!first.isNull() && !first->isVisible());
        flushDeletions();
        QVERIFY(first.isNull());

        // The next opening creates a new dialog; a double-click while it is open refills that one.
        o.host.OpenEditDialog(7);
        QPointer<EditDialog> second = o.host.dialog();
        QVERIFY(!second.isNull());
        o.host.OpenEditDialog(2);
        QCOMPARE(o.host.dialog(), second.data());
        QCOMPARE(second->windowTitle(), QStringLiteral("テキストの編集（2）"));
        QTest::keyClicks(second->textBox(), QStringLiteral("discarded"));
        QTest::mouseClick(second->cancelButton(), Qt::LeftButton);
        QVERIFY(o.w.form.texts[1] == u"first\r\nsecond\u00a0line");
        QCOMPARE(o.w.log.count("timer.on"), 2);
        flushDeletions();
        QVERIFY(second.isNull());
    }
};

QTEST_MAIN(EditDialogTest)
#include "edit_dialog_test.moc"
