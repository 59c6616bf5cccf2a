#include "ui/settings/SettingsDialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <type_traits>
#include <vector>

#include "core/Geometry.h"
#include "ui/common/Fonts.h"
#include "ui/common/Text.h"

namespace varnel {

namespace {

// A dialog window without an owner: Qt marks it transient for the program's window group, which keeps
// it out of the taskbar, and window managers activate it when it appears (a utility window they
// would leave in the background). Title and close box only; topmost before it is first mapped.
constexpr Qt::WindowFlags DialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                        Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint |
                                        Qt::WindowStaysOnTopHint;

template <std::size_t N>
void SelectOne(const std::array<QRadioButton*, N>& options, std::int16_t index) {
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
bool IsSelected(const std::array<QRadioButton*, N>& options, std::int16_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < N &&
           options[static_cast<std::size_t>(index)]->isChecked();
}

}  // namespace

SettingsDialog::SettingsDialog(AppContext& ctx) : QWidget(nullptr, DialogFlags), ctx_(ctx) {
    namespace L = settings_layout;
    setObjectName(QStringLiteral("frmProperty1"));
    setWindowTitle(QStringLiteral("Varnelの詳細設定"));
    setFont(ProportionalGothicFont(L::DialogPointSize));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setFixedSize(twips_.px(L::ClientWidth), twips_.px(L::ClientHeight));
    placeOnScreen();

    // Created in the order they stack: Combo1 lies over the gap of Label1.
    frame4_ = frame(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"), L::Frame4);
    label3_ = control<QLabel>(QStringLiteral("Varnel Version 1.1"), frame4_, L::Label3);

    frame1_ = frame(QStringLiteral("貼付方法"), L::Frame1);
    option1_[0] = control<QRadioButton>(QStringLiteral("クリップボードのペースト"), frame1_, L::Option1[0]);
    option1_[1] = control<QRadioButton>(QStringLiteral("キーストロークの送信"), frame1_, L::Option1[1]);
    label2_ = control<QLabel>(QString::fromUtf16(u"\u3000（貼付先のIMEは必ずオフにしてください！）"), frame1_,
                              L::Label2);

    frame2_ = frame(QStringLiteral("クリップボードの自動取得"), L::Frame2);
    check1_ = control<QCheckBox>(QStringLiteral("実行する"), frame2_, L::Check1);
    label1_ = control<QLabel>(
        QString::fromUtf16(u"割当て：\u30001～\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000まで"), frame2_,
        L::Label1);
    combo1_ = new QComboBox(frame2_);
    combo1_->setObjectName(QStringLiteral("Combo1"));
    combo1_->setEditable(true);
    combo1_->setInsertPolicy(QComboBox::NoInsert);
    combo1_->setFont(ProportionalGothicFont(L::ComboPointSize));
    for (int i = 1; i <= 10; ++i) {
        combo1_->addItem(QString::number(i));
    }
    combo1_->setGeometry(twips_.rect(L::Combo1.left, L::Combo1.top, L::Combo1.width, L::Combo1.height));

    frame3_ = frame(QStringLiteral("ウィンドウ表示"), L::Frame3);
    option2_[0] = control<QRadioButton>(QStringLiteral("通常表示（5行）"), frame3_, L::Option2[0]);
    option2_[1] = control<QRadioButton>(QStringLiteral("ボタン表示のみ"), frame3_, L::Option2[1]);
    option2_[2] = control<QRadioButton>(QStringLiteral("全体表示（10行）"), frame3_, L::Option2[2]);

    frame5_ = frame(QStringLiteral("内容消去"), L::Frame5);
    command3_ = control<QPushButton>(QStringLiteral("全消去実行"), frame5_, L::Command3);
    command1_ = control<QPushButton>(QStringLiteral("決定"), this, L::Command1);
    command2_ = control<QPushButton>(QStringLiteral("キャンセル"), this, L::Command2);
    for (QPushButton* button : {command1_, command2_, command3_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    const std::pair<QWidget*, const char*> names[] = {
        {frame1_, "Frame1"},        {frame2_, "Frame2"},        {frame3_, "Frame3"},
        {frame4_, "Frame4"},        {frame5_, "Frame5"},        {label1_, "Label1"},
        {label2_, "Label2"},        {label3_, "Label3"},        {check1_, "Check1"},
        {command1_, "Command1"},    {command2_, "Command2"},    {command3_, "Command3"},
        {option1_[0], "Option1_0"}, {option1_[1], "Option1_1"}, {option2_[0], "Option2_0"},
        {option2_[1], "Option2_1"}, {option2_[2], "Option2_2"},
    };
    for (const auto& [widget, name] : names) {
        widget->setObjectName(QString::fromLatin1(name));
    }

    applyTabOrder();
    connectHandlers();
    frmProperty1::Form_Load(ctx_.state, *this);
}

SettingsDialog::~SettingsDialog() = default;

QGroupBox* SettingsDialog::frame(const QString& caption, const settings_layout::Box& box) {
    return control<QGroupBox>(caption, this, box);
}

template <class W>
W* SettingsDialog::control(const QString& caption, QWidget* parent, const settings_layout::Box& box) {
    auto* widget = new W(caption, parent);
    widget->setGeometry(twips_.rect(box.left, box.top, box.width, box.height));
    if constexpr (std::is_same_v<W, QLabel>) {
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    return widget;
}

void SettingsDialog::placeOnScreen() {
    namespace L = settings_layout;
    PixelRect client{twips_.px(L::ClientLeft), twips_.px(L::ClientTop), twips_.px(L::ClientWidth),
                     twips_.px(L::ClientHeight)};
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
    // TabIndex order; frames and labels take no focus.
    const std::vector<QWidget*> order{option1_[0], option1_[1], check1_,     command1_, command2_,
                                      option2_[0], option2_[2], option2_[1], combo1_,   command3_};
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void SettingsDialog::connectHandlers() {
    connect(command1_, &QPushButton::clicked, this, [this] {
        if (!closing_) {
            frmProperty1::Command1_Click(ctx_, *this);
        }
    });
    connect(command2_, &QPushButton::clicked, this, [this] {
        if (!closing_) {
            frmProperty1::Command2_Click(*this);
        }
    });
    connect(command3_, &QPushButton::clicked, this, [this] {
        if (!closing_) {
            frmProperty1::Command3_Click(ctx_);
        }
    });
}

bool SettingsDialog::option1(std::int16_t index) const {
    return IsSelected(option1_, index);
}

void SettingsDialog::selectOption1(std::int16_t index) {
    SelectOne(option1_, index);
}

bool SettingsDialog::option2(std::int16_t index) const {
    return IsSelected(option2_, index);
}

void SettingsDialog::selectOption2(std::int16_t index) {
    SelectOne(option2_, index);
}

std::int16_t SettingsDialog::check1() const {
    return check1_->isChecked() ? 1 : 0;
}

void SettingsDialog::setCheck1(std::int16_t value) {
    check1_->setChecked(value == 1);
}

std::u16string SettingsDialog::combo1Text() const {
    return FromQString(combo1_->currentText());
}

void SettingsDialog::setCombo1Text(const std::u16string& text) {
    combo1_->setEditText(ToQString(text));
}

void SettingsDialog::unload() {
    close();
}

void SettingsDialog::closeEvent(QCloseEvent* event) {
    // OK, Cancel, the close box and the main window's unloading all arrive here; the handling runs
    // once, and the dialog always closes.
    if (!closing_) {
        closing_ = true;
        frmProperty1::Form_QueryUnload(ctx_);
        closed_ = true;
        emit closed();
    }
    event->accept();
}

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
    // Enter presses the button that has the focus, and only that one; Escape does nothing.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        for (QPushButton* button : {command1_, command2_, command3_}) {
            if (focusWidget() == button) {
                button->click();
                return;
            }
        }
    }
    QWidget::keyPressEvent(event);
}

}  // namespace varnel
