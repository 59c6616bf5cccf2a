#pragma once

#include "core/AppContext.h"

namespace varnel {

// The capture tick: records the window the user works in as TargetWindow (never one of our own windows
// but the settings and edit dialogs, MainWindowState::SettingsDialogWindow and EditDialogWindow) and,
// while capture is on, stores a new clipboard text into the next slot of the rotation.
//
// Every step can fail on its own. A failed step sets the tick's text to LastClipboardText and the
// tick goes on with the next step, a failed test counting as passed; a failed slot write ends the
// tick. A failed foreground query leaves TargetWindow as it was: not knowing the foreground window
// is no reason to forget the target.
void OnCaptureTick(AppContext& ctx);

// The tick's capture step alone (everything after the foreground tracking), under the same rules.
void CaptureStep(AppContext& ctx);

// The window system reports that another application changed the clipboard: the capture step runs at
// once instead of at the next tick, but only when a tick could run now (the tick timer on), so that nothing
// is captured while a delivery works. TargetWindow is left to the tick.
void ClipboardChanged(AppContext& ctx);

// Shows TargetWindow and CapturedTexts to other programs on the main window (WindowSystem::showValue)
// when they differ from what was last shown. A value that could not be shown is tried again at the
// next call. The front ends call it after every tick and every capture.
void ShowStateToOtherPrograms(AppContext& ctx);

}  // namespace varnel
