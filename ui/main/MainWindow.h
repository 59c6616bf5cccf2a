// The docked main window with its top row of buttons and the ten slot rows. It builds the
// controls exactly as laid out and forwards every event to the behaviour; it holds no rules itself.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>
#include <vector>

#include <memory>
#include "core/AppContext.h"
#include "core/AppWindows.h"
#include "ui/common/Twips.h"
#include "ui/edit/EditDialogHost.h"
#include "ui/main/SlotEdit.h"
#include "ui/main/SlotMenuWidget.h"
#include "ui/settings/SettingsDialogHost.h"

namespace varnel {

class MainWindow : public QWidget, public MainWindowView, public SecondaryWindows {
    Q_OBJECT
  public:
    MainWindow(AppState& state, MainWindowState& members);
    ~MainWindow() override;

    // The 200 ms tick timer; running from creation.
    QTimer& tickTimer() { return tickTimer_; }
    // Connects the behaviour to the platform services. Must come before LoadMainWindow.
    void attach(Platform& platform);
    // Runs start-up (LoadMainWindow). The window shows itself during it. Fails when the named slot
    // file could not be loaded.
    Status load();
    AppContext& context() { return *context_; }
    // Another application changed the clipboard (called on this window's thread).
    void clipboardChanged();
    // The slot menu while it is loaded, else null.
    SlotMenuWidget* slotMenu() const { return slotMenu_.get(); }
    // The edit dialog while it is open, else null.
    EditDialog* editDialog() const { return editDialog_ ? editDialog_->dialog() : nullptr; }

    // Controls, by their names and indices.
    QPushButton* zOrderButton(int index) const { return zOrderButtons_.at(index); }
    QPushButton* conversionButton(int index) const { return conversionButtons_.at(index); }
    QPushButton* copyButton(int index) const { return copyButtons_.at(index); }
    QPushButton* sendButton(int index) const { return sendButtons_.at(index); }
    QPushButton* settingsButton() const { return settingsButton_; }
    SlotEdit* slotEdit(int index) const { return slotEdits_.at(index); }

    // MainWindowView
    std::u16string text(std::int16_t index) const override;
    bool setText(std::int16_t index, const std::u16string& text) override;
    SharedText sharedText(std::int16_t index) const override;
    bool setSharedText(std::int16_t index, const SharedText& text) override;
    bool setBackground(std::int16_t index, SlotBackground colour) override;
    WindowHandle nativeHandle() override;
    void setLeft(double twips) override;
    void show() override;
    double outerWidthTwips() const override;
    double outerHeightTwips() const override;
    void setOuterWidthTwips(double twips) override;
    void setOuterHeightTwips(double twips) override;
    bool isMinimized() const override;
    void setSlotWidth(std::int16_t index, double twips) override;
    void reportKeyFailure(const std::string& why) override;
    void reportPastedInsteadOfTyped(const std::string& why) override;
    void reportClipboardFailure(const std::string& why) override;
    // The message of the last key failure while it is shown, else null.
    QMessageBox* keyFailureBox() const { return keyFailureBox_; }

    // SecondaryWindows
    void unloadSlotMenu() override;
    void unloadSettingsDialog() override;
    void unloadEditDialog() override;

    static const QColor CaptureColour;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // While a text is being typed, a mouse press on any of the program's windows (or Escape in one)
    // stops the typing; the press itself goes on to its widget as usual.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Shows a failure of a delivery in the one non-modal message box, headline first.
    void showFailure(const QString& headline, const std::string& why);
    QPushButton* pictureButton(const char* resource, const QString& tooltip, int left, int top);
    QPushButton* captionButton(const QString& caption, double pointSize, const QString& tooltip, int left);
    void showOnlyControlsInView();
    static bool validSlot(int index) { return index >= 1 && index <= 10; }
    void onTick();
    void connectHandlers();
    void onSlotPressed(int index, Qt::MouseButton button, QPoint position);

    AppState& state_;
    MainWindowState& members_;
    Twips twips_;
    QTimer tickTimer_;
    std::array<QPushButton*, 3> zOrderButtons_{};  // indices 1 and 2
    std::array<QPushButton*, 6> conversionButtons_{};
    std::array<QPushButton*, 11> copyButtons_{};  // indices 1..10
    std::array<QPushButton*, 11> sendButtons_{};
    QPushButton* settingsButton_ = nullptr;
    std::array<SlotEdit*, 11> slotEdits_{};
    std::vector<QWidget*> controls_;  // every control, in the keyboard order
    std::optional<AppContext> context_;
    std::unique_ptr<SlotMenuWidget> slotMenu_;    // the slot menu, created on the first right-click
    std::optional<EditDialogHost> editDialog_;    // the edit dialog's host
    std::optional<SettingsDialogHost> settings_;  // the settings dialog's host
    bool unloaded_ = false;
    QPointer<QMessageBox> keyFailureBox_;
};

}  // namespace varnel
