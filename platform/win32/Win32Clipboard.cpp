#include "platform/win32/Win32Clipboard.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/win32/Win32Support.h"
#include "platform/win32/Win32Windows.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr wchar_t WindowClassName[] = L"VarnelClipboardOwner";
// Another program holds the clipboard open only briefly (a paste: a few milliseconds).
constexpr int OpenTries = 10;
constexpr auto OpenRetryWait = 10ms;
// A clipboard owner must answer a WM_NULL within this before we ask it for its text: asking a hung
// owner that renders on request would hang us with it.
constexpr UINT OwnerAnswerBoundMs = 500;
// After the target has taken the text, it closes the clipboard; the paste is over then.
constexpr auto CloseAfterPasteBound = 200ms;
// Texts above 64 Mi UTF-16 units are not taken in.
constexpr SIZE_T MaxTextBytes = SIZE_T{128} << 20;

LRESULT CALLBACK ClipboardWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

Status RegisterWindowClass() {
    static const Status registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = ClipboardWindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = WindowClassName;
        if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return Status::failure("RegisterClassEx: " + LastErrorText());
        }
        return Status::success();
    }();
    return registered;
}

// A movable global block holding the text and its terminating NUL, as SetClipboardData takes it.
HGLOBAL GlobalText(const std::u16string& text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) {
        return nullptr;
    }
    void* data = ::GlobalLock(memory);
    if (data == nullptr) {
        ::GlobalFree(memory);
        return nullptr;
    }
    std::memcpy(data, text.c_str(), bytes);
    ::GlobalUnlock(memory);
    return memory;
}

// Puts the text on the open clipboard; the system owns the block once this succeeded.
Status PutText(const std::u16string& text) {
    HGLOBAL memory = GlobalText(text);
    if (memory == nullptr) {
        return Status::failure("no memory for a text of " + std::to_string(text.size()) + " units");
    }
    if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
        const std::string why = LastErrorText();
        ::GlobalFree(memory);
        return Status::failure("SetClipboardData: " + why);
    }
    return Status::success();
}

// Closes the clipboard when it goes out of scope.
struct OpenClipboardScope {
    ~OpenClipboardScope() { ::CloseClipboard(); }
};

}  // namespace

struct Win32Clipboard::Impl {
    EventPump& pump;
    HWND window = nullptr;
    std::string windowError;  // why there is no window
    bool listening = false;
    std::function<void()> listener;
    DWORD ownSequence = 0;         // the sequence number after our last change of the clipboard
    DWORD unansweredSequence = 0;  // the clipboard whose owner did not answer
    HWND unansweredOwner = nullptr;

    // The text offered for a paste by delayed rendering.
    struct Offer {
        bool active = false;
        bool delayed = false;  // on the clipboard as a promise, not yet rendered
        bool takenByTarget = false;
        bool takenByOther = false;
        bool lost = false;  // someone else emptied the clipboard before the target took the text
        std::u16string text;
        DWORD targetProcess = 0;
    } offer;

    explicit Impl(EventPump& p) : pump(p) {}

    Status usable() const { return window != nullptr ? Status::success() : Status::failure(windowError); }

    // OpenClipboard with bounded retries, answering sent messages between them: the holder may be
    // a target that waits for our WM_RENDERFORMAT answer.
    Status open() {
        DWORD error = 0;
        for (int attempt = 0; attempt < OpenTries; ++attempt) {
            if (attempt > 0) {
                WaitServingSentMessages(OpenRetryWait);
            }
            if (::OpenClipboard(window)) {
                return Status::success();
            }
            error = ::GetLastError();
        }
        return Status::failure(
            "the clipboard stayed in use by another program (OpenClipboard: " + ErrorText(error) + ")");
    }

    void render(bool forTarget, bool forOther) {
        if (!offer.delayed) {
            return;
        }
        if (PutText(offer.text)) {
            offer.delayed = false;
            offer.takenByTarget = offer.takenByTarget || forTarget;
            offer.takenByOther = offer.takenByOther || forOther;
        }
    }

    std::optional<LRESULT> handle(UINT message, WPARAM wParam) {
        switch (message) {
            case WM_RENDERFORMAT:
                // Sent from inside GetClipboardData of the program that asks; it has the clipboard
                // open, so it is told apart by the window it opened it with.
                if (wParam == CF_UNICODETEXT && offer.delayed) {
                    HWND asker = ::GetOpenClipboardWindow();
                    const bool target = asker != nullptr && asker != window && offer.targetProcess != 0 &&
                                        ProcessOfWindow(asker) == offer.targetProcess;
                    render(target, !target && asker != window);
                }
                return 0;
            case WM_RENDERALLFORMATS:
                // Our window is going away with the text still promised.
                if (offer.delayed && ::OpenClipboard(window)) {
                    OpenClipboardScope scope;
                    if (::GetClipboardOwner() == window) {
                        render(false, false);
                    }
                }
                return 0;
            case WM_DESTROYCLIPBOARD:
                if (offer.active && !offer.takenByTarget) {
                    offer.lost = true;
                }
                offer.delayed = false;
                return 0;
            case WM_CLIPBOARDUPDATE:
                if (listener && ::GetClipboardOwner() != window) {
                    const auto call = listener;  // the listener may replace itself
                    call();
                }
                return 0;
            default:
                return std::nullopt;
        }
    }

    // Empties the open clipboard, forgetting any earlier offer (the WM_DESTROYCLIPBOARD it sends us
    // finds none).
    Status empty() {
        offer = Offer{};
        if (!::EmptyClipboard()) {
            return Status::failure("EmptyClipboard: " + LastErrorText());
        }
        return Status::success();
    }

    // Opens the clipboard, empties it and lets `fill` put the new content while it is open; every
    // change of ours ends by remembering the sequence number it left, so that it is not taken for
    // another application's.
    template <class Fill>
    Status replaceContents(Fill&& fill) {
        Status status = usable();
        if (status) {
            status = open();
        }
        if (!status) {
            return status;
        }
        {
            OpenClipboardScope scope;
            status = empty();
            if (status) {
                status = fill();
            }
        }
        ownSequence = ::GetClipboardSequenceNumber();
        return status;
    }

    // Waits a little for anything: sent messages, input or posted messages for the pump.
    static void idle() { ::MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE); }
};

namespace {

LRESULT CALLBACK ClipboardWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* impl = reinterpret_cast<Win32Clipboard::Impl*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (impl != nullptr) {
        if (const auto result = impl->handle(message, wParam)) {
            return *result;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

Win32Clipboard::Win32Clipboard(EventPump& pump) : impl_(std::make_unique<Impl>(pump)) {
    if (Status registered = RegisterWindowClass(); !registered) {
        impl_->windowError = "the clipboard window could not be made: " + registered.error();
        return;
    }
    impl_->window = ::CreateWindowExW(0, WindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ::GetModuleHandleW(nullptr), impl_.get());
    if (impl_->window == nullptr) {
        impl_->windowError = "the clipboard window could not be made: " + LastErrorText();
        return;
    }
    impl_->listening = ::AddClipboardFormatListener(impl_->window);
}

Win32Clipboard::~Win32Clipboard() {
    if (impl_->window == nullptr) {
        return;
    }
    if (impl_->listening) {
        ::RemoveClipboardFormatListener(impl_->window);
    }
    endPaste();
    ::DestroyWindow(impl_->window);  // renders in WM_RENDERALLFORMATS whatever is still promised
}

Status Win32Clipboard::clear() {
    return impl_->replaceContents([] { return Status::success(); });
}

Result<bool> Win32Clipboard::hasText() {
    return Result<bool>::success(::IsClipboardFormatAvailable(CF_UNICODETEXT) != 0);
}

Result<std::u16string> Win32Clipboard::getText() {
    using R = Result<std::u16string>;
    Impl& c = *impl_;
    if (Status status = c.usable(); !status) {
        return R::failure(status.error());
    }
    HWND owner = ::GetClipboardOwner();
    if (owner != nullptr && owner != c.window) {
        // An owner that did not answer is asked again only once the clipboard has changed: the tick
        // reads an unchanged clipboard again and again, and would wait for it every time.
        const DWORD sequence = ::GetClipboardSequenceNumber();
        if (sequence != 0 && sequence == c.unansweredSequence && owner == c.unansweredOwner) {
            return R::failure("the clipboard's owner does not answer");
        }
        DWORD_PTR answer = 0;
        if (::SendMessageTimeoutW(owner, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, OwnerAnswerBoundMs,
                                  &answer) == 0 &&
            ::IsWindow(owner)) {
            c.unansweredSequence = sequence;
            c.unansweredOwner = owner;
            return R::failure("the clipboard's owner does not answer");
        }
    }
    if (Status status = c.open(); !status) {
        return R::failure(status.error());
    }
    OpenClipboardScope scope;
    if (!::IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        return R::failure("the clipboard holds no text");
    }
    HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    if (data == nullptr) {
        return R::failure("GetClipboardData: " + LastErrorText());
    }
    const SIZE_T bytes = ::GlobalSize(data);
    if (bytes > MaxTextBytes) {
        return R::failure("the clipboard's text is too large (" + std::to_string(bytes) + " bytes)");
    }
    const auto* units = static_cast<const char16_t*>(::GlobalLock(data));
    if (units == nullptr) {
        return R::failure("GlobalLock: " + LastErrorText());
    }
    // The text ends at its first NUL within the block; a block without one ends with the block.
    const std::size_t capacity = bytes / sizeof(char16_t);
    std::size_t length = 0;
    while (length < capacity && units[length] != u'\0') {
        ++length;
    }
    std::u16string text(units, length);
    ::GlobalUnlock(data);
    return R::success(std::move(text));
}

std::uint64_t Win32Clipboard::changeCount() {
    return ::GetClipboardSequenceNumber();
}

Status Win32Clipboard::setText(const std::u16string& text) {
    return impl_->replaceContents([&text] { return PutText(text); });
}

Status Win32Clipboard::offerForPaste(const std::u16string& text, WindowHandle target, PasteKind /*kind*/) {
    Impl& c = *impl_;
    const DWORD targetProcess = ProcessOfWindow(ToHwnd(target));
    if (targetProcess == 0) {
        return Status::failure("the target window is gone");
    }
    return c.replaceContents([&] {
        c.offer.active = true;
        c.offer.delayed = true;
        c.offer.text = text;
        c.offer.targetProcess = targetProcess;
        // A null block promises the text: SetClipboardData answers null for it in any case, so
        // success is read from the clipboard itself.
        ::SetClipboardData(CF_UNICODETEXT, nullptr);
        if (!::IsClipboardFormatAvailable(CF_UNICODETEXT)) {
            c.offer = Impl::Offer{};
            return Status::failure("SetClipboardData (delayed): " + LastErrorText());
        }
        return Status::success();
    });
}

Status Win32Clipboard::waitUntilPasted(std::chrono::milliseconds bound) {
    Impl& c = *impl_;
    if (!c.offer.active) {
        return Status::failure("no text is offered for a paste");
    }
    const auto deadline = Clock::now() + bound;
    for (;;) {
        if (c.offer.takenByTarget) {
            // The text went out inside the target's GetClipboardData; it is done once it has closed
            // the clipboard again.
            const auto closeDeadline = std::min(deadline, Clock::now() + CloseAfterPasteBound);
            while (::GetOpenClipboardWindow() != nullptr && Clock::now() < closeDeadline) {
                WaitServingSentMessages(1ms);
            }
            return Status::success();
        }
        if (c.offer.lost) {
            return Status::failure("another program took the clipboard before the target asked for the text");
        }
        if (Clock::now() >= deadline) {
            return Status::failure(
                c.offer.takenByOther
                    ? "another program fetched the text first; the target's paste could not be seen"
                    : "the target did not ask for the text within " + std::to_string(bound.count()) + " ms");
        }
        c.pump.pumpOnce();
        Impl::idle();
    }
}

void Win32Clipboard::endPaste() {
    Impl& c = *impl_;
    if (c.offer.delayed && c.window != nullptr && c.open()) {
        OpenClipboardScope scope;
        if (::GetClipboardOwner() == c.window) {
            c.render(false, false);
        }
    }
    c.offer = Impl::Offer{};
    c.ownSequence = ::GetClipboardSequenceNumber();
}

Status Win32Clipboard::waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) {
    Impl& c = *impl_;
    const DWORD targetProcess = ProcessOfWindow(ToHwnd(target));
    if (targetProcess == 0) {
        return Status::failure("the target window is gone");
    }
    const auto deadline = Clock::now() + bound;
    for (;;) {
        const DWORD sequence = ::GetClipboardSequenceNumber();
        HWND owner = ::GetClipboardOwner();
        // A sequence number of 0 means it cannot be read; the owner alone tells then.
        if (owner != nullptr && owner != c.window && ProcessOfWindow(owner) == targetProcess &&
            (sequence == 0 || sequence != c.ownSequence)) {
            return Status::success();
        }
        if (Clock::now() >= deadline) {
            return Status::failure(sequence != c.ownSequence
                                       ? "the clipboard was changed, but not by the target"
                                       : "the target copied nothing within " + std::to_string(bound.count()) +
                                             " ms");
        }
        c.pump.pumpOnce();
        Impl::idle();
    }
}

void Win32Clipboard::setChangeListener(std::function<void()> listener) {
    impl_->listener = std::move(listener);
}

}  // namespace varnel
