// The control ids (GetDlgCtrlID) of the Windows front end's windows, stable from release to release
// so that tools and tests can find each control. Window titles: the main window "Varnel", the edit
// dialog "テキストの編集（n）", the settings dialog "Varnelの詳細設定". The slots and the edit
// dialog's text box answer WM_GETTEXT with their whole text, line ends exactly as they are held.
#pragma once

namespace varnel::win32_ids {

// Main window.
constexpr int ZOrderButton = 100;      // + 1, + 2: "常に手前に表示", "背面に表示する"
constexpr int ConversionButton = 110;  // + 0..5: 半 全 あ ア A a
constexpr int SettingsButton = 120;
constexpr int CopyButton = 200;  // + 1..10, the row's slot
constexpr int SendButton = 300;  // + 1..10
constexpr int Slot = 400;        // + 1..10: the slot text boxes
constexpr int SlotLabel = 420;   // + 1..10: "スロット n", each slot's name, placed just before it

// Edit dialog. (1 and 2 are IDOK and IDCANCEL, which the dialog manager sends for Enter and Escape;
// no control uses them.)
constexpr int EditText = 500;
constexpr int EditOk = 501;
constexpr int EditCancel = 502;

// Settings dialog.
constexpr int VersionFrame = 600;  // "ﾊﾞｰｼﾞｮﾝ情報"
constexpr int VersionLabel = 601;
constexpr int SendModeFrame = 610;   // "貼付方法"
constexpr int SendModeOption = 611;  // + 0, + 1: paste, keystrokes
constexpr int ImeLabel = 613;
constexpr int CaptureFrame = 620;  // "クリップボードの自動取得"
constexpr int CaptureCheck = 621;
constexpr int RotationLabel = 622;
constexpr int RotationCombo = 623;
constexpr int DisplayFrame = 630;   // "ウィンドウ表示"
constexpr int DisplayOption = 631;  // + 0..2: five rows, buttons only, ten rows
constexpr int ClearFrame = 640;     // "内容消去"
constexpr int ClearAllButton = 641;
constexpr int SettingsOk = 650;      // "決定"
constexpr int SettingsCancel = 651;  // "キャンセル"

}  // namespace varnel::win32_ids
