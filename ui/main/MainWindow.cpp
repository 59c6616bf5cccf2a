#include "ui/main/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "capture/CaptureTick.h"
#include "core/DisplayModes.h"
#include "core/Geometry.h"
#include "core/Startup.h"
#include "delivery/Delivery.h"
#include "ui/common/FocusFrame.h"
#include "ui/common/Fonts.h"
#include "ui/common/SizeHints.h"
#include "ui/common/WindowRole.h"
#include "ui/layout/MainLayout.h"

static void InitVarnelResources() {
    Q_INIT_RESOURCE(varnel);
}

namespace varnel {

const QColor MainWindow::CaptureColour{0xFF, 0xFF, 0xC0};  // &HC0FFFF

MainWindow::MainWindow(AppState& state, MainWindowState& members) : state_(state), members_(members) {
    using namespace layout;
    InitVarnelResources();
    setWindowTitle(QStringLiteral("Varnel"));
    setObjectName(QStringLiteral("mainWindow"));
    SetWindowRole(*this, QAccessible::Window);
    QIcon icon;
    for (const char* size : {":/icon16.xpm", ":/icon24.xpm", ":/icon32.xpm"}) {
        icon.addPixmap(QPixmap(QString::fromLatin1(size)));
    }
    setWindowIcon(icon);
    // Start-up makes the window topmost through the window system, right after the first show. The
    // stays-on-top hint is not asked for before that: some managers (icewm) then keep the window in
    // their topmost layer for good, and the button that sends it behind all others stops working.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    resize(twips_.px(ClientWidthFromOuter(DesignWindowWidth)),
           twips_.px(ClientHeightFromOuter(DesignWindowHeight)));
    int top = twips_.px(DesignWindowTop);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        top = TopWithinScreen(top, twips_.px(DesignWindowHeight), area.top(), area.top() + area.height());
    }
    move(twips_.px(DesignWindowLeft), top);

    zOrderButtons_[1] =
        pictureButton(":/zorder_front.xpm", QStringLiteral("常に手前に表示"), ZOrderButtonLeft[1], TopRowTop);
    zOrderButtons_[2] =
        pictureButton(":/zorder_back.xpm", QStringLiteral("背面に表示する"), ZOrderButtonLeft[2], TopRowTop);
    struct Conversion {
        const char16_t* caption;
        double points;
        const char16_t* tooltip;
    };
    const Conversion conversions[6] = {
        {u"半", 11.25, u"半角に変換します"},
        {u"全", 11.25, u"全角に変換します"},
        {u"あ", 11.25, u"カタカナをひらがなに変換します"},
        {u"ア", 11.25, u"ひらがなをカタカナに変換します"},
        {u"A", 12, u"大文字に変換します"},
        {u"a", 14.25, u"小文字に変換します"},
    };
    for (int i = 0; i < 6; ++i) {
        conversionButtons_[i] = captionButton(
            QString::fromUtf16(conversions[i].caption), conversions[i].points,
            QString::fromUtf16(conversions[i].tooltip), ConversionButtonLeft + ConversionButtonStep * i);
        conversionButtons_[i]->setObjectName(QStringLiteral("conversionButton_%1").arg(i));
    }
    settingsButton_ = pictureButton(":/settings.xpm", QStringLiteral("詳細設定ウィンドウを表示します"),
                                    SettingsButtonLeft, TopRowTop);
    settingsButton_->setObjectName(QStringLiteral("settingsButton"));
    zOrderButtons_[1]->setObjectName(QStringLiteral("zOrderButton_1"));
    zOrderButtons_[2]->setObjectName(QStringLiteral("zOrderButton_2"));

    const QFont slotFont = FixedGothicFont(9.75);
    for (int i = 1; i <= 10; ++i) {
        const int top = SlotRowTop(i);
        copyButtons_[i] = pictureButton(":/copy.xpm", QStringLiteral("右の内容をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします"),
                                        CopyButtonLeft, top);
        copyButtons_[i]->setObjectName(QStringLiteral("copyButton_%1").arg(i));
        // Ten rows of buttons with one tooltip each: the name says which slot a button is for, the
        // tooltip stays the description.
        copyButtons_[i]->setAccessibleName(QStringLiteral("スロット %1 をコピー").arg(i));
        sendButtons_[i] = pictureButton(":/send.xpm", QStringLiteral("右の内容を指定したｱﾌﾟﾘに送ります"),
                                        SendButtonLeft, top);
        sendButtons_[i]->setObjectName(QStringLiteral("sendButton_%1").arg(i));
        sendButtons_[i]->setAccessibleName(QStringLiteral("スロット %1 を送る").arg(i));
        auto* slot = new SlotEdit(i, this);
        slot->setObjectName(QStringLiteral("slot_%1").arg(i));
        slot->setFont(slotFont);
        slot->setGeometry(i == 5 ? twips_.rect(SlotLeft, top, Slot5Width, Slot5Height)
                                 : twips_.rect(SlotLeft, top, SlotWidth, SlotHeight));
        slotEdits_[i] = slot;
    }

    // Keyboard order: the top row from left to right, then row by row the copy button, the send
    // button and the slot, as the rows are read.
    std::vector<QWidget*>& order = controls_;
    order = {zOrderButtons_[1], zOrderButtons_[2]};
    for (auto* b : conversionButtons_) {
        order.push_back(b);
    }
    order.push_back(settingsButton_);
    for (int i = 1; i <= 10; ++i) {
        order.push_back(copyButtons_[i]);
        order.push_back(sendButtons_[i]);
        order.push_back(slotEdits_[i]);
    }
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    // The window may not be narrowed below the minimum width; the resize rule enforces it as well.
    setMinimumWidth(twips_.px(ClientWidthFromOuter(MinimumWindowWidth)));
    connectHandlers();
    QCoreApplication::instance()->installEventFilter(this);

    tickTimer_.setInterval(TimerIntervalMs);
    connect(&tickTimer_, &QTimer::timeout, this, &MainWindow::onTick);
    tickTimer_.start();
}

MainWindow::~MainWindow() = default;

QPushButton* MainWindow::pictureButton(const char* resource, const QString& tooltip, int left, int top) {
    auto* button = new FocusFramedButton({}, this);
    button->setIcon(QIcon(QString::fromLatin1(resource)));
    button->setIconSize(QSize(twips_.px(360), twips_.px(360)));
    button->setToolTip(tooltip);
    button->setAccessibleName(tooltip);  // a picture says nothing to a screen reader
    button->setGeometry(twips_.rect(left, top, layout::ButtonSize, layout::ButtonSize));
    return button;
}

QPushButton* MainWindow::captionButton(const QString& caption, double pointSize, const QString& tooltip,
                                       int left) {
    auto* button = new FocusFramedButton(caption, this);
    button->setFont(ProportionalGothicFont(pointSize));
    button->setToolTip(tooltip);
    button->setAccessibleName(tooltip);  // "半" alone would not say what the button does
    button->setGeometry(twips_.rect(left, layout::TopRowTop, layout::ButtonSize, layout::ButtonSize));
    return button;
}

void MainWindow::attach(Platform& platform) {
    editDialog_.reset();
    settings_.reset();
    context_.emplace(AppContext{state_, members_, *this, platform});
    editDialog_.emplace(*context_);
    settings_.emplace(*context_);
}

Status MainWindow::load() {
    return LoadMainWindow(*context_);
}

void MainWindow::onTick() {
    if (context_) {
        OnCaptureTick(*context_);
        ShowStateToOtherPrograms(*context_);
    }
}

void MainWindow::clipboardChanged() {
    if (context_ && !unloaded_) {
        ClipboardChanged(*context_);
        ShowStateToOtherPrograms(*context_);
    }
}

std::u16string MainWindow::text(std::int16_t index) const {
    return validSlot(index) ? slotEdits_[index]->exactText() : std::u16string{};
}

bool MainWindow::setText(std::int16_t index, const std::u16string& text) {
    if (!validSlot(index)) {
        return false;
    }
    slotEdits_[index]->setExactText(text);
    return true;
}

SharedText MainWindow::sharedText(std::int16_t index) const {
    return validSlot(index) ? slotEdits_[index]->sharedText() : SharedText{};
}

bool MainWindow::setSharedText(std::int16_t index, const SharedText& text) {
    if (!validSlot(index)) {
        return false;
    }
    slotEdits_[index]->setExactText(text);
    return true;
}

bool MainWindow::setBackground(std::int16_t index, SlotBackground colour) {
    if (!validSlot(index)) {
        return false;
    }
    QPalette palette = slotEdits_[index]->palette();
    palette.setColor(QPalette::Base, colour == SlotBackground::Capture
                                         ? CaptureColour
                                         : QWidget::palette().color(QPalette::Base));
    slotEdits_[index]->setPalette(palette);
    return true;
}

WindowHandle MainWindow::nativeHandle() {
    return static_cast<WindowHandle>(winId());
}

void MainWindow::setLeft(double twips) {
    move(twips_.px(twips), y());
}

void MainWindow::show() {
    if (!isVisible() && context_) {
        // Without it a tiling manager would tile the window; a failure leaves it to the manager.
        (void)context_->platform.windows.keepFloating(nativeHandle());
        KeepBaseSizeSound(*this);
    }
    QWidget::show();
}

double MainWindow::outerWidthTwips() const {
    return twips_.twips(QWidget::width()) + DesignFrameWidthTwips;
}

double MainWindow::outerHeightTwips() const {
    return twips_.twips(QWidget::height()) + DesignFrameHeightTwips;
}

void MainWindow::setOuterWidthTwips(double twips) {
    resize(twips_.px(twips - DesignFrameWidthTwips), QWidget::height());
}

void MainWindow::setOuterHeightTwips(double twips) {
    resize(QWidget::width(), twips_.px(twips - DesignFrameHeightTwips));
}

bool MainWindow::isMinimized() const {
    return QWidget::isMinimized();
}

void MainWindow::setSlotWidth(std::int16_t index, double twips) {
    if (validSlot(index)) {
        slotEdits_[index]->resize(std::max(0, twips_.px(twips)), slotEdits_[index]->height());
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitSlotsToWidth(*this);
    showOnlyControlsInView();
}

void MainWindow::showOnlyControlsInView() {
    // A lower (or narrower) window clips the controls beyond its edge. Those wholly outside are
    // hidden as well, so that Tab, typing and screen readers stay with what the user can see; a
    // hidden slot keeps its text and goes on taking captured text. Hiding the control that has the
    // focus moves the focus on to the next one shown.
    const QRect area = rect();
    for (QWidget* control : controls_) {
        control->setVisible(control->geometry().intersects(area));
    }
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    // Only the bare client area gets here: the controls take their own double-clicks.
    if (context_ && event->button() == Qt::LeftButton) {
        CycleDisplayMode(*context_);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (context_ && members_.Deliveries.typing && watched->isWidgetType()) {
        const bool press = event->type() == QEvent::MouseButtonPress ||
                           event->type() == QEvent::NonClientAreaMouseButtonPress;
        const bool escape =
            event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (press || escape) {
            StopTyping(*context_);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::reportKeyFailure(const std::string& why) {
    showFailure(QStringLiteral("キー入力を送れませんでした。"), why);
}

void MainWindow::reportPastedInsteadOfTyped(const std::string& why) {
    showFailure(
        QStringLiteral("入力メソッドの状態が分からないため、キー入力の代わりに貼り付けで送りました。"), why);
}

void MainWindow::reportClipboardFailure(const std::string& why) {
    showFailure(QStringLiteral("クリップボードを使えませんでした。"), why);
}

void MainWindow::showFailure(const QString& headline, const std::string& why) {
    // One message at a time, updated in place; shown without taking the focus, so that the target
    // window stays the target.
    if (!keyFailureBox_) {
        keyFailureBox_ =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("Varnel"), headline, QMessageBox::Ok, this);
        keyFailureBox_->setObjectName(QStringLiteral("KeyFailure"));
        keyFailureBox_->setAttribute(Qt::WA_DeleteOnClose);
        keyFailureBox_->setAttribute(Qt::WA_ShowWithoutActivating);
        keyFailureBox_->setWindowFlag(Qt::WindowStaysOnTopHint);
        keyFailureBox_->setModal(false);
    }
    keyFailureBox_->setText(headline);
    keyFailureBox_->setInformativeText(QString::fromStdString(why));
    keyFailureBox_->show();
}

void MainWindow::onSlotPressed(int index, Qt::MouseButton button, QPoint position) {
    if (!context_ || !validSlot(index) || button != Qt::RightButton) {
        return;
    }
    if (!slotMenu_) {
        slotMenu_ = std::make_unique<SlotMenuWidget>();
    }
    const SlotEdit* slot = slotEdits_[index];
    slotMenu_->keepClearOf(QRect(slot->mapToGlobal(QPoint(0, 0)), slot->size()));
    // The window's outer corner on the screen, and the slot's place in the client area, in twips.
    const SlotMenuAnchor anchor{twips_.twips(frameGeometry().x()), twips_.twips(frameGeometry().y()),
                                twips_.twips(slot->x()), twips_.twips(slot->y()),
                                twips_.twips(slot->height())};
    OnSlotMouseDown(*context_, *slotMenu_, anchor, static_cast<std::int16_t>(index), MouseButton::Right,
                    twips_.twips(position.x()), twips_.twips(position.y()));
}

void MainWindow::connectHandlers() {
    connect(settingsButton_, &QPushButton::clicked, this, [this] {
        if (settings_) {
            settings_->OpenSettingsDialog();
        }
    });
    for (int i : {1, 2}) {
        connect(zOrderButtons_[i], &QPushButton::clicked, this, [this, i] {
            if (context_) {
                SelectZOrder(*context_, static_cast<ZOrderMode>(i));
            }
        });
    }
    for (int i = 0; i < 6; ++i) {
        connect(conversionButtons_[i], &QPushButton::clicked, this, [this, i] {
            if (context_) {
                if (const auto kind = ConversionKindForButton(static_cast<std::int16_t>(i))) {
                    ConvertTargetSelection(*context_, *kind);
                }
            }
        });
    }
    for (int i = 1; i <= 10; ++i) {
        connect(copyButtons_[i], &QPushButton::clicked, this, [this, i] {
            if (context_) {
                CopySlot(*context_, static_cast<std::int16_t>(i));
            }
        });
        connect(sendButtons_[i], &QPushButton::clicked, this, [this, i] {
            if (context_) {
                SendSlot(*context_, static_cast<std::int16_t>(i));
            }
        });
        connect(slotEdits_[i], &SlotEdit::mousePressed, this, &MainWindow::onSlotPressed);
        connect(slotEdits_[i], &SlotEdit::menuKeyPressed, this,
                [this](int index, QPoint position) { onSlotPressed(index, Qt::RightButton, position); });
        connect(slotEdits_[i], &SlotEdit::editRequested, this, [this](int index) {
            if (editDialog_) {
                editDialog_->OpenEditDialog(static_cast<std::int16_t>(index));
            }
        });
    }
}

void MainWindow::unloadSlotMenu() {
    slotMenu_.reset();
}
void MainWindow::unloadSettingsDialog() {
    if (settings_) {
        settings_->unload();
    }
}
void MainWindow::unloadEditDialog() {
    if (editDialog_) {
        editDialog_->unload();
    }
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Dark), 1));
    const int y = twips_.px(layout::RuleY);
    painter.drawLine(twips_.px(layout::RuleX1), y, twips_.px(layout::RuleX2), y);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!unloaded_) {
        unloaded_ = true;
        tickTimer_.stop();
        UnloadSecondaryWindows(*this);
    }
    event->accept();
}

}  // namespace varnel
