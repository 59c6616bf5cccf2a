// Giving the focus back to the target window and delivering slots and converted selections into it.
//
// Yield points: the focus return pumps events once per pass; a paste pumps while it waits for the
// target to fetch the text; typing pumps between its slices (a few tens of milliseconds each) and once
// afterwards; a conversion pumps after the copy key and while it waits for the target's copy. Any
// pending event can run there. A send, copy or conversion
// clicked meanwhile is queued (MainWindowState::Deliveries) and runs when the running delivery is done;
// a dialog that closes meanwhile runs its close handler at once, which may change TargetWindow, and
// the focus return follows that change because it reads TargetWindow afresh on every pass.
//
// Typing stops early, with nothing more typed and the keyboard left as it was found, when the user
// clicks one of the program's windows (StopTyping), presses Escape (the keyboard watches for it), or
// the program is ending (ShutDownDeliveries). A click on a send, copy or conversion button during the
// typing both stops it and queues that delivery, which then runs as usual. A key operation that fails
// is reported to the user through MainWindowView::reportKeyFailure, and so is a send or conversion that sent
// nothing because the focus return failed; a clipboard that could not be set (a copy, a paste, the
// text put back after it) through MainWindowView::reportClipboardFailure. A paste whose target did not ask
// for the text within PasteRequestBound is no proof that it failed (a clipboard manager's fetch can
// hide the target's own), so it is only written to MainWindowView::writeDiagnostic.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/AppContext.h"
#include "text/ConvertText.h"

namespace varnel {

// How long the focus return keeps asking before it gives up.
constexpr std::chrono::milliseconds FocusReturnBound{2000};
// How long a paste waits for the target to fetch the text before the clipboard is restored.
constexpr std::chrono::milliseconds PasteRequestBound{1000};
// How long a conversion waits for the target to put its selection on the clipboard.
constexpr std::chrono::milliseconds CopyBound{500};

// Every "\r\n" becomes "\r", left to right, without overlap. Lone CR and LF stay.
std::u16string ApplyLineEndRule(std::u16string_view text);

// Switches the tick timer off and makes TargetWindow the foreground window. Fails, saying why, when that
// did not happen within FocusReturnBound, when the target window disappeared meanwhile, or when the
// program is ending: the caller must then deliver nothing. The tick timer stays off either way; the
// caller switches it on as its last step.
Status FocusReturn(AppContext& ctx);

// The slot's copy button: the slot's text onto the clipboard.
void CopySlot(AppContext& ctx, std::int16_t index);

// The slot's send button: focus return, then paste or type the slot's text by SendMode.
void SendSlot(AppContext& ctx, std::int16_t index);

// The conversion buttons: copy the target's selection, convert it, deliver it back over the selection.
void ConvertTargetSelection(AppContext& ctx, ConversionKind kind);

// The user asked the running typing to stop; it stops at its next slice. Nothing when none runs.
void StopTyping(AppContext& ctx);

// The program is ending: the running delivery stops at its next yield (the focus return gives up,
// typing stops), queued deliveries are dropped and none starts any more.
void ShutDownDeliveries(AppContext& ctx);

// A dialog opening: saves the target the focus goes back to when the dialog closes. While the dialog
// is already open (openDialog names its window) and was the last window in the foreground, the tick
// has made the dialog itself the target; saving that would send the focus to the dialog just as it
// goes away, so the target saved at the earlier opening stays then.
void SaveTargetForDialog(AppState& state, std::optional<WindowHandle> openDialog);

// The dialogs' close handler: back to the window that was the target when the dialog opened.
void ReturnFocusFromDialog(AppContext& ctx);

}  // namespace varnel
