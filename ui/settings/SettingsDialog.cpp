#include "ui/settings/SettingsDialog.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>
#include <vector>

#include "core/Geometry.h"
#include "ui/common/FocusFrame.h"
#include "ui/common/Fonts.h"
#include "ui/common/Text.h"
#include "ui/common/WindowIcon.h"
#include "ui/common/WindowRole.h"

namespace varnel {

namespace {

// A dialog window without an owner: Qt marks it transient for the program's window group, which keeps
// it out of the taskbar, and window managers activate it when it appears (a utility window they
// would leave in the background). Title and close box only; topmost before it is first mapped.
constexpr Qt::WindowFlags DialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                        Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint |
                                        Qt::WindowStaysOnTopHint;

template <std::size_t N>
void SelectOne(const std::array<QRadioButton*, N>& options, int index) {
    // Clearing every option of a group takes the group's exclusivity off for a moment.
    for (QRadioButton* option : options) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
    if (index >= 0 && static_cast<std::size_t>(index) < N) {
        options[static_cast<std::size_t>(index)]->setChecked(true);
    }
}

template <std::size_t N>
bool IsSelected(const std::array<QRadioButton*, N>& options, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N &&
           options[static_cast<std::size_t>(index)]->isChecked();
}

}  // namespace

SettingsDialog::SettingsDialog(AppContext& ctx) : QWidget(nullptr, DialogFlags), handlers_(ctx, *this) {
    namespace L = settings_layout;
    setObjectName(QStringLiteral("settingsDialog"));
    SetWindowRole(*this, QAccessible::Dialog);
    setWindowTitle(QStringLiteral("Varnelの詳細設定"));
    setWindowIcon(NoWindowIcon());
    setFont(ProportionalGothicFont(L::DialogPointSize));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    // Created in the order they stack: the rotation count box lies over the gap of the rotation label.
    versionFrame_ = frame(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    versionLabel_ = new QLabel(QStringLiteral("Varnel Version 1.1"), versionFrame_);

    sendModeFrame_ = frame(QStringLiteral("貼付方法"));
    sendModeButtons_[0] = new QRadioButton(QStringLiteral("クリップボードのペースト"), sendModeFrame_);
    sendModeButtons_[1] = new QRadioButton(QStringLiteral("キーストロークの送信"), sendModeFrame_);
    imeLabel_ =
        new QLabel(QString::fromUtf16(u"\u3000（貼付先のIMEは必ずオフにしてください！）"), sendModeFrame_);

    captureFrame_ = frame(QStringLiteral("クリップボードの自動取得"));
    captureBox_ = new QCheckBox(QStringLiteral("実行する"), captureFrame_);
    rotationLabel_ = new GapLabel(
        QString::fromUtf16(u"割当て：\u30001～\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000まで"),
        captureFrame_);
    rotationCountBox_ = new QComboBox(captureFrame_);
    rotationCountBox_->setObjectName(QStringLiteral("rotationCountBox"));
    rotationCountBox_->setEditable(true);
    rotationCountBox_->setInsertPolicy(QComboBox::NoInsert);
    rotationCountBox_->setFont(ProportionalGothicFont(L::ComboPointSize));
    for (int i = 1; i <= 10; ++i) {
        rotationCountBox_->addItem(QString::number(i));
    }
    // The box itself reads its number (and the rotation label labels it); its parts say what they hold.
    rotationCountBox_->lineEdit()->setAccessibleName(QStringLiteral("割当てるスロット数"));
    rotationCountBox_->view()->setAccessibleName(QStringLiteral("割当てるスロット数の候補"));

    displayFrame_ = frame(QStringLiteral("ウィンドウ表示"));
    displaySizeButtons_[0] = new QRadioButton(QStringLiteral("通常表示（5行）"), displayFrame_);
    displaySizeButtons_[1] = new QRadioButton(QStringLiteral("ボタン表示のみ"), displayFrame_);
    displaySizeButtons_[2] = new QRadioButton(QStringLiteral("全体表示（10行）"), displayFrame_);

    clearFrame_ = frame(QStringLiteral("内容消去"));
    // No default or cancel button: Enter presses the button that has the focus, Escape none.
    clearAllButton_ = new FocusFramedButton(QStringLiteral("全消去実行"), clearFrame_);
    okButton_ = new FocusFramedButton(QStringLiteral("決定"), this);
    cancelButton_ = new FocusFramedButton(QStringLiteral("キャンセル"), this);
    for (QLabel* label : {imeLabel_, versionLabel_}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    const std::pair<QWidget*, const char*> names[] = {
        {sendModeFrame_, "sendModeFrame"},
        {captureFrame_, "captureFrame"},
        {displayFrame_, "displayFrame"},
        {versionFrame_, "versionFrame"},
        {clearFrame_, "clearFrame"},
        {rotationLabel_, "rotationLabel"},
        {imeLabel_, "imeLabel"},
        {versionLabel_, "versionLabel"},
        {captureBox_, "captureBox"},
        {okButton_, "okButton"},
        {cancelButton_, "cancelButton"},
        {clearAllButton_, "clearAllButton"},
        {sendModeButtons_[0], "sendModeButton_0"},
        {sendModeButtons_[1], "sendModeButton_1"},
        {displaySizeButtons_[0], "displaySizeButton_0"},
        {displaySizeButtons_[1], "displaySizeButton_1"},
        {displaySizeButtons_[2], "displaySizeButton_2"},
    };
    for (const auto& [widget, name] : names) {
        widget->setObjectName(QString::fromLatin1(name));
    }

    describeForAssistiveTools();
    layoutControls();
    placeOnScreen();
    applyTabOrder();
    connectHandlers();
    handlers_.FillSettingsDialog();
}

SettingsDialog::~SettingsDialog() = default;

CaptionFrame* SettingsDialog::frame(const QString& caption) {
    return new CaptionFrame(caption, twips_.px(settings_layout::CaptionIndentTwips), this);
}

std::vector<SettingsDialog::Placement> SettingsDialog::placements() const {
    namespace L = settings_layout;
    return {
        {versionFrame_, L::VersionFrame},
        {versionLabel_, L::VersionLabel},
        {sendModeFrame_, L::SendModeFrame},
        {sendModeButtons_[0], L::SendModeOptions[0]},
        {sendModeButtons_[1], L::SendModeOptions[1]},
        {imeLabel_, L::ImeLabel},
        {captureFrame_, L::CaptureFrame},
        {captureBox_, L::CaptureCheck},
        {rotationLabel_, L::RotationLabel},
        {rotationCountBox_, L::RotationCombo},
        {displayFrame_, L::DisplayFrame},
        {displaySizeButtons_[0], L::DisplaySizeOptions[0]},
        {displaySizeButtons_[1], L::DisplaySizeOptions[1]},
        {displaySizeButtons_[2], L::DisplaySizeOptions[2]},
        {clearFrame_, L::ClearFrame},
        {clearAllButton_, L::ClearAllButton},
        {okButton_, L::OkButton},
        {cancelButton_, L::CancelButton},
    };
}

QList<QWidget*> SettingsDialog::textControls() const {
    return {versionLabel_,
            imeLabel_,
            rotationLabel_,
            sendModeButtons_[0],
            sendModeButtons_[1],
            displaySizeButtons_[0],
            displaySizeButtons_[1],
            displaySizeButtons_[2],
            captureBox_,
            okButton_,
            cancelButton_,
            clearAllButton_};
}

void SettingsDialog::placeAt(double widthScale) {
    namespace L = settings_layout;
    constexpr int MarginTwips = 120;  // between a frame's border and its controls
    auto x = [&](int twips) { return twips_.px(twips * widthScale); };
    for (const Placement& p : placements()) {
        QRect r(x(p.box.left), twips_.px(p.box.top), x(p.box.left + p.box.width) - x(p.box.left),
                twips_.px(p.box.height));
        // A text taller than its row grows about the row's middle, so it stays in line with its
        // neighbours.
        if (textControls().contains(p.widget)) {
            const int needed = p.widget->sizeHint().height();
            if (needed > r.height()) {
                r.adjust(0, -(needed - r.height()) / 2, 0, needed - r.height() - (needed - r.height()) / 2);
            }
        }
        p.widget->setGeometry(r);
    }
    // A text a little wider than its box takes free room on its right, up to the next control of
    // its row or the frame's margin.
    const int margin =
        x(settings_layout::SendModeFrame.width) - x(settings_layout::SendModeFrame.width - MarginTwips);
    for (QWidget* w : textControls()) {
        const int wanted = w->sizeHint().width();
        if (wanted <= w->width() || w == rotationLabel_) {
            continue;
        }
        int limit = w->parentWidget()->width() - margin;
        for (QWidget* other : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const bool sameRow = other->y() < w->geometry().bottom() && other->geometry().bottom() > w->y();
            if (other != w && sameRow && other->x() > w->x()) {
                limit = std::min(limit, other->x() - margin / 2);
            }
        }
        w->resize(std::clamp(wanted, w->width(), std::max(w->width(), limit - w->x())), w->height());
    }
    // The rotation count box stands in the rotation label's gap. Where the text before the gap needs more
    // room, the label begins further left, in the free room after the capture box's text.
    const int spacing = twips_.px(L::GapSpacingTwips);
    const int deficit = rotationLabel_->fontMetrics().horizontalAdvance(rotationLabel_->head()) + spacing -
                        (rotationCountBox_->x() - rotationLabel_->x());
    if (deficit > 0) {
        const int left = std::max(rotationLabel_->x() - deficit,
                                  captureBox_->x() + captureBox_->sizeHint().width() + spacing);
        if (left < rotationLabel_->x()) {
            rotationLabel_->setGeometry(left, rotationLabel_->y(),
                                        rotationLabel_->geometry().right() + 1 - left,
                                        rotationLabel_->height());
        }
    }
    const QRect combo = rotationCountBox_->geometry().translated(-rotationLabel_->x(), -rotationLabel_->y());
    rotationLabel_->setGap(combo.left(), combo.right() + 1, spacing);
    setFixedSize(x(L::ClientWidth), twips_.px(L::ClientHeight));
}

double SettingsDialog::overflow() const {
    // How much wider the widest text is than the room it has (1 or less: everything fits).
    double worst = 0;
    auto need = [&worst](int wanted, int room) {
        worst = std::max(worst, room > 0 ? static_cast<double>(wanted) / room : 2.0);
    };
    for (QWidget* w : textControls()) {
        need(w->sizeHint().width(), w->width());
    }
    need(rotationLabel_->fontMetrics().horizontalAdvance(rotationLabel_->head()) +
             twips_.px(settings_layout::GapSpacingTwips),
         rotationCountBox_->x() - rotationLabel_->x());
    for (CaptionFrame* f : {sendModeFrame_, captureFrame_, displayFrame_, versionFrame_, clearFrame_}) {
        need(f->minimumSizeHint().width(), f->width());
    }
    return worst;
}

void SettingsDialog::layoutControls() {
    // The layout as designed; where the font needs more room for a text than the layout gives it,
    // the dialog and everything in it become wider by the same factor, so nothing is cut off and the
    // columns stay in line.
    double scale = 1.0;
    placeAt(scale);
    for (int round = 0; round < 8; ++round) {
        const double worst = overflow();
        if (worst <= 1.0) {
            break;
        }
        scale *= worst + 0.01;
        placeAt(scale);
    }
}

void SettingsDialog::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange && rotationCountBox_ != nullptr) {
        layoutControls();
    }
}

void SettingsDialog::describeForAssistiveTools() {
    // Texts, frames and buttons name themselves by their captions; what they do is said here.
    sendModeButtons_[0]->setAccessibleDescription(
        QStringLiteral("スロットの内容をクリップボードから貼り付けます"));
    sendModeButtons_[1]->setAccessibleDescription(QStringLiteral("スロットの内容をキー入力として送ります") +
                                                  imeLabel_->text().trimmed());
    captureBox_->setAccessibleDescription(QStringLiteral("コピーされたテキストをスロットに取り込みます"));
    rotationCountBox_->setAccessibleName(QStringLiteral("割当て"));
    rotationCountBox_->setAccessibleDescription(QStringLiteral("取り込みに使うスロット：1からこの番号まで"));
    displaySizeButtons_[0]->setAccessibleDescription(
        QStringLiteral("メインウィンドウにスロットを5行表示します"));
    displaySizeButtons_[1]->setAccessibleDescription(
        QStringLiteral("メインウィンドウにボタンの行だけを表示します"));
    displaySizeButtons_[2]->setAccessibleDescription(
        QStringLiteral("メインウィンドウにスロットを10行表示します"));
    clearAllButton_->setAccessibleDescription(QStringLiteral("10個のスロットをすべて空にします"));
    okButton_->setAccessibleDescription(QStringLiteral("設定を反映して閉じます"));
    cancelButton_->setAccessibleDescription(QStringLiteral("設定を変えずに閉じます"));
    rotationLabel_->setBuddy(rotationCountBox_);
}

void SettingsDialog::placeOnScreen() {
    namespace L = settings_layout;
    PixelRect client{twips_.px(L::ClientLeft), twips_.px(L::ClientTop), width(), height()};
    // The frame the layout allows for: 60 twips on each side, the caption above.
    const int side = twips_.px(DesignFrameLeftTwips);
    const FrameMargins frame{side, twips_.px(DesignFrameHeightTwips - DesignFrameLeftTwips), side, side};
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        client = KeepOnScreen(client, frame, PixelRect{area.x(), area.y(), area.width(), area.height()});
    }
    // The client rectangle, so that no window manager's frame moves the controls off the design spot.
    setGeometry(client.left, client.top, client.width, client.height);
}

void SettingsDialog::applyTabOrder() {
    // The order the controls are read in, frame by frame from the top, the closing buttons last;
    // frames and labels take no focus.
    const std::vector<QWidget*> order{sendModeButtons_[0],    sendModeButtons_[1],    captureBox_,
                                      rotationCountBox_,      displaySizeButtons_[0], displaySizeButtons_[1],
                                      displaySizeButtons_[2], clearAllButton_,        okButton_,
                                      cancelButton_};
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void SettingsDialog::connectHandlers() {
    connect(okButton_, &QPushButton::clicked, this, [this] {
        if (!closing_) {
            handlers_.ApplySettings();
        }
    });
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        if (!closing_) {
            handlers_.CancelSettings();
        }
    });
    connect(clearAllButton_, &QPushButton::clicked, this, [this] {
        if (!closing_) {
            handlers_.ClearAllSlots();
        }
    });
}

bool SettingsDialog::sendModeSelected(SendMethod mode) const {
    return IsSelected(sendModeButtons_, mode);
}

void SettingsDialog::selectSendMode(SendMethod mode) {
    SelectOne(sendModeButtons_, mode);
}

bool SettingsDialog::displaySizeSelected(DisplaySize size) const {
    return IsSelected(displaySizeButtons_, static_cast<int>(size));
}

void SettingsDialog::selectDisplaySize(DisplaySize size) {
    SelectOne(displaySizeButtons_, static_cast<int>(size));
}

bool SettingsDialog::captureChecked() const {
    return captureBox_->isChecked();
}

void SettingsDialog::setCaptureChecked(bool checked) {
    captureBox_->setChecked(checked);
}

std::u16string SettingsDialog::rotationCountBoxText() const {
    return FromQString(rotationCountBox_->currentText());
}

void SettingsDialog::setRotationCountBoxText(const std::u16string& text) {
    rotationCountBox_->setEditText(ToQString(text));
}

void SettingsDialog::unload() {
    close();
}

void SettingsDialog::closeEvent(QCloseEvent* event) {
    // OK, Cancel, the close box and the main window's unloading all arrive here; the handling runs
    // once, and the dialog always closes.
    if (!closing_) {
        closing_ = true;
        handlers_.CloseSettingsDialog();
        closed_ = true;
        emit closed();
    }
    event->accept();
}

}  // namespace varnel
