// The main window against its layout: geometry, captions, tooltips, fonts, tab order, timer, colours.
#include <QAccessible>
#include <QFontInfo>
#include <QMenu>
#include <QTimer>
#include <QtTest>

#include "core/Geometry.h"
#include "fakes/FakePlatform.h"
#include "platform/qt/QtServices.h"
#include "ui/layout/MainLayout.h"
#include "ui/main/MainWindow.h"

using namespace varnel;

class MainWindowTest : public QObject {
    Q_OBJECT

    struct Loaded {
        fake::CallLog log;
        fake::WindowSystem windows{log};
        fake::Clipboard clipboard{log};
        fake::Keyboard keyboard{log};
        QtEventPump pump;
        fake::Files files{log};
        fake::Codepage codepage{log};
        SteadyClock clock;
        AppState state;
        MainWindowState members;
        MainWindow window{state, members};
        QtTickTimer timer{window.tickTimer()};
        Platform platform{windows, clipboard, keyboard, pump, timer, files, codepage, clock};
        Loaded() {
            window.attach(platform);
            static_cast<void>(window.load());  // no slot file is named: nothing to fail
        }
    };

    Twips twips{96.0};
    QRect layoutRect(int left, int top, int width, int height) {
        return twips.rect(left, top, width, height);
    }

  private slots:
    void windowIsLaidOutAsDesigned() {
        Loaded l;
        QCOMPARE(l.window.windowTitle(), QStringLiteral("Varnel"));
        QCOMPARE(l.window.size(), QSize(twips.px(3720), twips.px(2970)));
        QCOMPARE(l.window.outerWidthTwips(), 3840.0);  // outer twips, as the layout counts them
        QCOMPARE(l.window.outerHeightTwips(), 3375.0);
        QVERIFY(l.window.isVisible());
        QVERIFY(l.window.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(l.window.windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(l.window.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!l.window.windowIcon().isNull());
        QCOMPARE(l.window.windowIcon().availableSizes().size(), 3);
    }

    void topRowButtons() {
        Loaded l;
        const std::vector<std::pair<QPushButton*, std::pair<int, QString>>> expected{
            {l.window.zOrderButton(1), {120, QStringLiteral("常に手前に表示")}},
            {l.window.zOrderButton(2), {480, QStringLiteral("背面に表示する")}},
            {l.window.conversionButton(0), {960, QStringLiteral("半角に変換します")}},
            {l.window.conversionButton(1), {1320, QStringLiteral("全角に変換します")}},
            {l.window.conversionButton(2), {1680, QStringLiteral("カタカナをひらがなに変換します")}},
            {l.window.conversionButton(3), {2040, QStringLiteral("ひらがなをカタカナに変換します")}},
            {l.window.conversionButton(4), {2400, QStringLiteral("大文字に変換します")}},
            {l.window.conversionButton(5), {2760, QStringLiteral("小文字に変換します")}},
            {l.window.settingsButton(), {3240, QStringLiteral("詳細設定ウィンドウを表示します")}},
        };
        for (const auto& [button, e] : expected) {
            QCOMPARE(button->geometry(), layoutRect(e.first, 70, 375, 375));
            QCOMPARE(button->toolTip(), e.second);
            QVERIFY(!button->isDefault() && !button->autoDefault());
        }
        const QStringList captions{"半", "全", "あ", "ア", "A", "a"};
        const double points[] = {11.25, 11.25, 11.25, 11.25, 12, 14.25};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(l.window.conversionButton(i)->text(), captions[i]);
            QCOMPARE(l.window.conversionButton(i)->font().pointSizeF(), points[i]);
        }
        for (auto* b : {l.window.zOrderButton(1), l.window.zOrderButton(2), l.window.settingsButton()}) {
            QVERIFY(b->text().isEmpty());
            QVERIFY(!b->icon().isNull());
        }
    }

    void slotRows() {
        Loaded l;
        for (int i = 1; i <= 10; ++i) {
            const int top = 120 + 480 * i;
            QCOMPARE(l.window.copyButton(i)->geometry(), layoutRect(120, top, 375, 375));
            QCOMPARE(l.window.sendButton(i)->geometry(), layoutRect(480, top, 375, 375));
            QCOMPARE(l.window.copyButton(i)->toolTip(), QStringLiteral("右の内容をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします"));
            QCOMPARE(l.window.sendButton(i)->toolTip(), QStringLiteral("右の内容を指定したｱﾌﾟﾘに送ります"));
            SlotEdit* slot = l.window.slotEdit(i);
            QCOMPARE(slot->x(), twips.px(960));
            QCOMPARE(slot->y(), twips.px(top));
            QCOMPARE(slot->height(), twips.px(i == 5 ? 405 : 375));
            QVERIFY(slot->toolTip().isEmpty());
            QCOMPARE(slot->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(slot->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QVERIFY(!slot->isReadOnly());
            QCOMPARE(slot->font().pointSizeF(), 9.75);
        }
    }

    void japaneseFontsFallBackToInstalledGothicFaces() {
        Loaded l;
        const QStringList installed = QFontDatabase::families();
        const QString slotFamily = QFontInfo(l.window.slotEdit(1)->font()).family();
        const QString buttonFamily = QFontInfo(l.window.conversionButton(0)->font()).family();
        if (!installed.contains(QStringLiteral("ＭＳ ゴシック")) &&
            installed.contains(QStringLiteral("IPAGothic"))) {
            QCOMPARE(slotFamily, QStringLiteral("IPAGothic"));
            QCOMPARE(buttonFamily, QStringLiteral("IPAPGothic"));
        }
    }

    void tabOrderReadsRowByRow() {
        Loaded l;
        std::vector<QWidget*> expected{l.window.zOrderButton(1), l.window.zOrderButton(2)};
        for (int i = 0; i < 6; ++i) {
            expected.push_back(l.window.conversionButton(i));
        }
        expected.push_back(l.window.settingsButton());
        for (int i = 1; i <= 10; ++i) {
            expected.push_back(l.window.copyButton(i));
            expected.push_back(l.window.sendButton(i));
            expected.push_back(l.window.slotEdit(i));
        }
        for (std::size_t i = 1; i < expected.size(); ++i) {
            QWidget* next = expected[i - 1]->nextInFocusChain();
            while (!(next->focusPolicy() & Qt::TabFocus)) {
                next = next->nextInFocusChain();
            }
            QCOMPARE(next, expected[i]);
        }
    }

    void everyControlHasItsOwnAccessibleNameAndTheWindowIsAFrame() {
        Loaded l;
        l.window.resize(l.window.QWidget::width(), twips.px(5370));  // all ten rows
        QSet<QString> names;
        for (QWidget* w : l.window.findChildren<QWidget*>()) {
            if (w->focusPolicy() & Qt::TabFocus) {
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
                QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
                QVERIFY2(!names.contains(a->text(QAccessible::Name)), qPrintable(a->text(QAccessible::Name)));
                names.insert(a->text(QAccessible::Name));
            }
        }
        QCOMPARE(names.size(), 39);
        auto text = [](QWidget* w, QAccessible::Text t = QAccessible::Name) {
            return QAccessible::queryAccessibleInterface(w)->text(t);
        };
        QCOMPARE(text(l.window.conversionButton(0)), QStringLiteral("半角に変換します"));
        QCOMPARE(text(l.window.copyButton(3)), QStringLiteral("スロット 3 をコピー"));
        QCOMPARE(text(l.window.sendButton(10)), QStringLiteral("スロット 10 を送る"));
        // The tooltip is the description.
        QCOMPARE(text(l.window.sendButton(7), QAccessible::Description),
                 QStringLiteral("右の内容を指定したｱﾌﾟﾘに送ります"));
        QCOMPARE(l.window.copyButton(7)->toolTip(), QStringLiteral("右の内容をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします"));
        QCOMPARE(text(l.window.slotEdit(10)), QStringLiteral("スロット 10"));
        QCOMPARE(QAccessible::queryAccessibleInterface(&l.window)->role(), QAccessible::Window);
    }

    // The controls Tab reaches, once round from the first one.
    static std::vector<QWidget*> tabStops(MainWindow& window) {
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window)) {
            return {};
        }
        QWidget* first = window.zOrderButton(1);
        first->setFocus(Qt::TabFocusReason);
        std::vector<QWidget*> stops{first};
        for (int i = 0; i < 50; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == first) {
                break;
            }
            stops.push_back(QApplication::focusWidget());
        }
        return stops;
    }

    void tabReachesOnlyTheControlsInView() {
        Loaded l;
        QWidget* slot8 = l.window.slotEdit(8);
        std::vector<QWidget*> all;
        for (QWidget* w = l.window.zOrderButton(1); all.size() < 39; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus) {
                all.push_back(w);
            }
        }
        auto stops = [&l] { return tabStops(l.window); };
        // Five rows, buttons only, all ten rows: 9 + 3 per row shown, in reading order.
        QCOMPARE(stops(), std::vector<QWidget*>(all.begin(), all.begin() + 24));
        QTest::mouseDClick(&l.window, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(stops(), std::vector<QWidget*>(all.begin(), all.begin() + 9));
        QTest::mouseDClick(&l.window, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(stops(), all);
        // The focus leaves a slot that goes out of view; typing then reaches no hidden slot.
        slot8->setFocus();
        QTest::mouseDClick(&l.window, Qt::LeftButton, {}, QPoint(2, 2));
        QVERIFY(!slot8->isVisible() && QApplication::focusWidget() != slot8);
        QVERIFY(QApplication::focusWidget() != nullptr && QApplication::focusWidget()->isVisible());
        QVERIFY(l.window.setText(8, u"kept"));  // a hidden slot still holds and takes text
        QVERIFY(l.window.text(8) == u"kept");
        // A narrowed window leaves the settings button out.
        l.window.resize(twips.px(1680), l.window.QWidget::height());
        QVERIFY(!l.window.settingsButton()->isVisible() && l.window.zOrderButton(2)->isVisible());
    }

    void f2OpensTheEditDialogAndTheKeyboardAloneStoresTheText() {
        Loaded l;
        l.window.setText(3, u"old");
        QTest::keyClick(l.window.slotEdit(3), Qt::Key_F2);
        EditDialog* dialog = l.window.editDialog();
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("テキストの編集（3）"));
        QCOMPARE(dialog->focusWidget(), static_cast<QWidget*>(dialog->textBox()));
        QTest::keyClick(dialog->textBox(), Qt::Key_End);
        QTest::keyClicks(dialog->textBox(), QStringLiteral(" new"));
        QTest::keyClick(dialog->textBox(), Qt::Key_Tab);
        QCOMPARE(dialog->focusWidget(), static_cast<QWidget*>(dialog->okButton()));
        QTest::keyClick(dialog->okButton(), Qt::Key_Return);
        QVERIFY(l.window.editDialog() == nullptr);
        QVERIFY(l.window.text(3) == u"old new");
    }

    void theSlotMenuOpensClearOfItsSlot() {
        // Below the slot where there is room, else above it; never over it.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        SlotMenuWidget menu;
        for (const int top : {screen.top() + 40, screen.bottom() - 40}) {
            const QRect slot(screen.left() + 100, top, 180, 25);
            menu.keepClearOf(slot);
            QRect shown;
            QTimer::singleShot(50, [&menu, &shown] {
                shown = menu.menu().geometry();
                menu.menu().close();
            });
            menu.showMenuAt(ScreenPoint{static_cast<std::int16_t>(slot.left() + 10),
                                        static_cast<std::int16_t>(slot.top() + 5)});
            QVERIFY(shown.isValid());
            QVERIFY2(!shown.intersects(slot), qPrintable(QStringLiteral("%1").arg(top)));
        }
    }

    void theFocusedControlWearsAFrame() {
        Loaded l;
        l.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&l.window));
        const QColor highlight = l.window.palette().color(QPalette::Highlight);
        for (QWidget* w :
             {static_cast<QWidget*>(l.window.copyButton(1)), static_cast<QWidget*>(l.window.slotEdit(1))}) {
            const QPoint edge(w->width() / 2, 1);
            QVERIFY(w->grab().toImage().pixelColor(edge) != highlight);
            w->setFocus();
            QCOMPARE(w->grab().toImage().pixelColor(edge), highlight);
        }
    }

    void slotsShowWholeLines() {
        // Every line of a slot lies wholly inside its text area or wholly below it, whatever the
        // slot's height and font.
        Loaded l;
        QStringList families{QFontInfo(l.window.slotEdit(1)->font()).family()};
        if (QFontDatabase::families().contains(QStringLiteral("Noto Sans Mono CJK JP"))) {
            families << QStringLiteral("Noto Sans Mono CJK JP");
        }
        for (const QString& family : families) {
            for (int i : {1, 5}) {
                SlotEdit* slot = l.window.slotEdit(i);
                QFont font(family);
                font.setPointSizeF(9.75);
                slot->setFont(font);
                l.window.setText(
                    static_cast<std::int16_t>(i),
                    u"a long first line that wraps onto a second line 日本語のテキスト\nline two\nthree");
                const int area = slot->viewport()->height();
                QTextCursor line(slot->document());
                int whole = 0;
                do {
                    const QRect r = slot->cursorRect(line);
                    QVERIFY2(r.bottom() < area || r.top() >= area, qPrintable(family));
                    whole += r.bottom() < area ? 1 : 0;
                } while (line.movePosition(QTextCursor::Down));
                QVERIFY(whole >= 1);
            }
        }
    }

    void menuKeyAndShiftF10OpenTheSlotMenu() {
        for (const auto& [key, modifiers] :
             {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers{}},
              std::pair{Qt::Key_F10, Qt::KeyboardModifiers{Qt::ShiftModifier}}}) {
            Loaded l;
            l.window.setText(2, u"abc");
            // Choose "大文字" as soon as the menu shows.
            QTimer::singleShot(50, [&l] {
                if (l.window.slotMenu() != nullptr) {
                    QMenu& menu = l.window.slotMenu()->menu();
                    menu.setActiveAction(menu.actions().at(4));
                    QTest::keyClick(&menu, Qt::Key_Return);
                }
            });
            QTest::keyClick(l.window.slotEdit(2), key, modifiers);
            QVERIFY(l.window.text(2) == u"ABC");
        }
    }

    void doubleClickOnTheBareAreaCyclesTheHeightButNotOnASlot() {
        Loaded l;
        QTest::mouseDClick(l.window.slotEdit(1)->viewport(), Qt::LeftButton);
        QCOMPARE(l.state.DisplayMode, DisplaySize::FiveRows);
        QTest::mouseDClick(&l.window, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(l.state.DisplayMode, DisplaySize::ButtonsOnly);
        QCOMPARE(l.window.size(), QSize(twips.px(3720), twips.px(480)));
        QTest::mouseDClick(&l.window, Qt::LeftButton, {}, QPoint(twips.px(2000), twips.px(480)));  // the rule
        QCOMPARE(l.state.DisplayMode, DisplaySize::TenRows);
        QCOMPARE(l.window.size(), QSize(twips.px(3720), twips.px(5370)));
    }

    void slotsFollowTheWindowWidth() {
        Loaded l;
        l.window.resize(twips.px(5000), l.window.size().height());
        for (int i = 1; i <= 10; ++i) {
            QCOMPARE(l.window.slotEdit(i)->QWidget::width(), twips.px(5000 + 120 - 1185));
        }
        l.window.resize(twips.px(300), l.window.size().height());
        QCOMPARE(l.window.size().width(), twips.px(1680));
        QCOMPARE(l.window.slotEdit(5)->QWidget::width(), twips.px(615));
    }

    void slotMenuHasItsTwelveItemsAndOnlyARightPressOpensIt() {
        Loaded l;
        QTest::mouseClick(l.window.slotEdit(1)->viewport(), Qt::LeftButton);
        QTest::mouseClick(l.window.slotEdit(1)->viewport(), Qt::MiddleButton);
        QVERIFY(l.window.slotMenu() == nullptr);
        // A right press opens the menu (created on first use); close it as soon as it shows.
        QTimer::singleShot(50, [&l] {
            if (l.window.slotMenu() != nullptr) {
                l.window.slotMenu()->menu().close();
            }
        });
        l.window.setText(1, u"unchanged");
        QTest::mousePress(l.window.slotEdit(1)->viewport(), Qt::RightButton);
        QVERIFY(l.window.slotMenu() != nullptr);
        QVERIFY(l.window.text(1) == u"unchanged");
        QMenu& menu = l.window.slotMenu()->menu();
        QCOMPARE(menu.title(), QStringLiteral("編集"));
        const QStringList captions{"半角", "全角",    "ひらがな", "カタカナ", "大文字",   "小文字",
                                   "",     "Tab→ｶﾝﾏ", "ｶﾝﾏ→Tab",  "",         "空白削除", "削除"};
        const auto actions = menu.actions();
        QCOMPARE(actions.size(), 12);
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(actions[i]->isSeparator(), captions[i].isEmpty());
            QCOMPARE(actions[i]->text(), captions[i]);
            QCOMPARE(actions[i]->data().toInt(), i + 2);
        }
        l.window.unloadSlotMenu();
        QVERIFY(l.window.slotMenu() == nullptr);
    }

    void timerRunsAt200MsFromCreation() {
        AppState state;
        MainWindowState members;
        MainWindow window(state, members);
        QVERIFY(window.tickTimer().isActive());
        QCOMPARE(window.tickTimer().interval(), 200);
    }

    // The target and the capture count are shown to other programs after ticks and at once after a
    // capture (the rule itself is tested with the capture).
    void theTargetAndTheCaptureCountAreShownAfterTicksAndCaptures() {
        Loaded l;
        l.windows.foreground = 0x100;
        QTRY_COMPARE(l.log.count("showValue target 256"), 1);
        QCOMPARE(l.log.count("showValue captures 0"), 1);
        l.clipboard.text = u"captured";
        l.window.clipboardChanged();
        QCOMPARE(l.log.count("showValue captures 1"), 1);
    }

    void onlySlotOneWearsTheCaptureColourAfterStartUp() {
        Loaded l;
        QCOMPARE(l.window.slotEdit(1)->palette().color(QPalette::Base), QColor(255, 255, 192));
        for (int i = 2; i <= 10; ++i) {
            QCOMPARE(l.window.slotEdit(i)->palette().color(QPalette::Base),
                     l.window.palette().color(QPalette::Base));
        }
    }

    void slotsKeepTheirTextExactly() {
        Loaded l;
        const std::u16string text = u"一行目\r\n二行目\rCR だけ\n𠀋";
        QVERIFY(l.window.setText(3, text));
        QVERIFY(l.window.text(3) == text);
        QVERIFY(!l.window.setText(11, u"x"));
        QVERIFY(l.window.text(0).empty());
        // A huge text is kept whole but shown in part, read-only.
        const std::u16string huge(3 * SlotEdit::DisplayLimit, u'あ');
        QVERIFY(l.window.setText(5, huge));
        QVERIFY(l.window.text(5) == huge);
        QVERIFY(l.window.slotEdit(5)->isReadOnly());
        QVERIFY(l.window.slotEdit(5)->toPlainText().size() <
                2 * static_cast<qsizetype>(SlotEdit::DisplayLimit));
        QVERIFY(l.window.setText(5, u"small"));
        QVERIFY(!l.window.slotEdit(5)->isReadOnly());
        // A user edit takes what the box shows.
        QTest::keyClicks(l.window.slotEdit(4), QStringLiteral("ab"));
        QVERIFY(l.window.text(4) == u"ab");
    }

    void aPressOnTheWindowStopsTypingAndKeyFailuresShowWithoutTakingTheFocus() {
        Loaded l;
        QTest::mousePress(l.window.copyButton(2), Qt::LeftButton);
        QVERIFY(!l.members.Deliveries.stopTyping);  // nothing is being typed
        l.members.Deliveries.typing = true;
        QTest::mouseRelease(l.window.copyButton(2), Qt::LeftButton);
        QVERIFY(!l.members.Deliveries.stopTyping);
        QTest::mousePress(l.window.slotEdit(4), Qt::LeftButton);
        QVERIFY(l.members.Deliveries.stopTyping);
        l.members.Deliveries.typing = false;

        l.window.reportKeyFailure("typing: first reason");
        l.window.reportKeyFailure("typing: the connection to the X server is lost");
        QMessageBox* box = l.window.keyFailureBox();
        QVERIFY(box != nullptr && box->isVisible());
        QVERIFY(!box->isModal());
        QVERIFY(box->testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(box->informativeText(), QStringLiteral("typing: the connection to the X server is lost"));
        QCOMPARE(l.window.findChildren<QMessageBox*>().size(), 1);

        // A send that arrived by paste instead is no failure to send.
        l.window.reportPastedInsteadOfTyped("fcitx5 State: no answer");
        QVERIFY(!box->text().contains(QStringLiteral("送れません")));
        QVERIFY(box->text().contains(QStringLiteral("貼り付けで送りました")));
        QCOMPARE(l.window.findChildren<QMessageBox*>().size(), 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
