// The settings dialog "Varnelの詳細設定": a modeless, topmost dialog window with a fixed
// frame. It builds the controls exactly as laid out and forwards its events to the rules in
// editing/SettingsDialogRules.h. A dialog lives for one opening: closing it by any means runs the close
// handling once, and the next opening creates a new one.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <vector>

#include "core/AppContext.h"
#include "editing/SettingsDialogRules.h"
#include "ui/common/Twips.h"
#include "ui/layout/SettingsLayout.h"
#include "ui/settings/CaptionFrame.h"

namespace varnel {

class SettingsDialog : public QWidget, public settings::Controls {
    Q_OBJECT
  public:
    // Builds the dialog at its design position (moved onto the visible screen where needed) and runs
    // FillSettingsDialog. The dialog is not shown yet. The controls stand where the layout puts them; where
    // the font needs more room for a text, the dialog grows just wide enough (and a text taller than
    // its row grows about the row's middle), also when the font changes later.
    explicit SettingsDialog(AppContext& ctx);
    ~SettingsDialog() override;

    // The close handling has begun, or is over.
    bool isClosing() const { return closing_; }
    bool isClosed() const { return closed_; }

    // Controls, by their names and indices.
    CaptionFrame* sendModeFrame() const { return sendModeFrame_; }
    CaptionFrame* captureFrame() const { return captureFrame_; }
    CaptionFrame* displayFrame() const { return displayFrame_; }
    CaptionFrame* versionFrame() const { return versionFrame_; }
    CaptionFrame* clearFrame() const { return clearFrame_; }
    GapLabel* rotationLabel() const { return rotationLabel_; }
    QLabel* imeLabel() const { return imeLabel_; }
    QLabel* versionLabel() const { return versionLabel_; }
    QRadioButton* sendModeButton(int index) const { return sendModeButtons_.at(index); }
    QRadioButton* displaySizeButton(int index) const { return displaySizeButtons_.at(index); }
    QCheckBox* captureBox() const { return captureBox_; }
    QComboBox* rotationCountBox() const { return rotationCountBox_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* clearAllButton() const { return clearAllButton_; }

    // settings::Controls
    bool sendModeSelected(SendMethod mode) const override;
    void selectSendMode(SendMethod mode) override;
    bool displaySizeSelected(DisplaySize size) const override;
    void selectDisplaySize(DisplaySize size) override;
    bool captureChecked() const override;
    void setCaptureChecked(bool checked) override;
    std::u16string rotationCountBoxText() const override;
    void setRotationCountBoxText(const std::u16string& text) override;
    void unload() override;

  signals:
    // The close handling is over; the dialog is hidden and may be destroyed.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Placement {
        QWidget* widget;
        settings_layout::Box box;
    };
    CaptionFrame* frame(const QString& caption);
    std::vector<Placement> placements() const;
    // Every control that shows a text of its own.
    QList<QWidget*> textControls() const;
    void placeAt(double widthScale);
    double overflow() const;
    void layoutControls();
    void describeForAssistiveTools();
    void placeOnScreen();
    void connectHandlers();
    void applyTabOrder();

    SettingsDialogHandlers handlers_;
    Twips twips_;
    CaptionFrame* sendModeFrame_ = nullptr;
    CaptionFrame* captureFrame_ = nullptr;
    CaptionFrame* displayFrame_ = nullptr;
    CaptionFrame* versionFrame_ = nullptr;
    CaptionFrame* clearFrame_ = nullptr;
    GapLabel* rotationLabel_ = nullptr;
    QLabel* imeLabel_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    std::array<QRadioButton*, 2> sendModeButtons_{};
    std::array<QRadioButton*, 3> displaySizeButtons_{};
    QCheckBox* captureBox_ = nullptr;
    QComboBox* rotationCountBox_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* clearAllButton_ = nullptr;
    bool closing_ = false;
    bool closed_ = false;
};

}  // namespace varnel
