// Fakes of every platform service and of the program's windows. Each records its calls in one shared
// log, in order, and can fail any single call on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/AppContext.h"
#include "core/AppWindows.h"
#include "platform/Platform.h"

namespace varnel::fake {

class CallLog {
  public:
    // Records a call and tells whether it is to fail.
    bool record(const std::string& op) {
        calls.push_back(op);
        const int n = ++counts_[op];
        if (always_.count(op) != 0) {
            return true;
        }
        auto it = nth_.find(op);
        return it != nth_.end() && it->second.count(n) != 0;
    }
    // Fails the n-th call of op counted from the start of the test (1-based).
    void failCall(const std::string& op, int n) { nth_[op].insert(n); }
    void failAlways(const std::string& op) { always_.insert(op); }
    void heal(const std::string& op) {
        always_.erase(op);
        nth_.erase(op);
    }
    int count(const std::string& op) const {
        auto it = counts_.find(op);
        return it == counts_.end() ? 0 : it->second;
    }
    void clear() { calls.clear(); }

    std::vector<std::string> calls;

  private:
    std::map<std::string, int> counts_;
    std::map<std::string, std::set<int>> nth_;
    std::set<std::string> always_;
};

inline Status statusFor(bool fail, const std::string& op) {
    return fail ? Status::failure("injected failure: " + op) : Status::success();
}

class WindowSystem : public varnel::WindowSystem {
  public:
    explicit WindowSystem(CallLog& log) : log_(log) {}

    Result<WindowHandle> foregroundWindow() override {
        if (log_.record("foregroundWindow")) {
            return Result<WindowHandle>::failure("injected");
        }
        if (onForegroundQuery) {
            onForegroundQuery();
        }
        return Result<WindowHandle>::success(foreground);
    }
    Status makeForeground(WindowHandle window) override {
        const bool fail = log_.record("makeForeground " + std::to_string(window));
        if (!fail && activationWorks && existing.count(window) != 0) {
            foreground = window;
        }
        return statusFor(fail, "makeForeground");
    }
    bool windowExists(WindowHandle window) override {
        const bool fail = log_.record("windowExists " + std::to_string(window));
        return !fail && existing.count(window) != 0;
    }
    bool isOwnWindow(WindowHandle window) override { return own.count(window) != 0; }
    Status setZOrder(WindowHandle window, ZOrderMode mode) override {
        const bool fail =
            log_.record("setZOrder " + std::to_string(window) + " " + std::to_string(static_cast<int>(mode)));
        if (!fail) {
            zOrder[window] = mode;
        }
        return statusFor(fail, "setZOrder");
    }
    Status showValue(WindowHandle, ShownValue which, std::uint64_t value) override {
        const char* name = which == ShownValue::TargetWindow ? "target " : "captures ";
        return statusFor(log_.record("showValue " + (name + std::to_string(value))), "showValue");
    }
    Result<MonitorArea> primaryMonitorArea() override {
        if (log_.record("primaryMonitorArea")) {
            return Result<MonitorArea>::failure("injected");
        }
        return Result<MonitorArea>::success(monitor);
    }
    Result<TwipsPerPixel> twipsPerPixel() override {
        if (log_.record("twipsPerPixel")) {
            return Result<TwipsPerPixel>::failure("injected");
        }
        return Result<TwipsPerPixel>::success(twips);
    }

    WindowHandle foreground = 0;
    std::set<WindowHandle> existing;
    std::set<WindowHandle> own;  // the program's own windows besides the main window
    bool activationWorks = true;
    MonitorArea monitor{0, 0, 1024, 768};  // the primary monitor's area for windows
    TwipsPerPixel twips{};
    std::map<WindowHandle, ZOrderMode> zOrder;
    std::function<void()> onForegroundQuery;

  private:
    CallLog& log_;
};

class Clipboard : public varnel::Clipboard {
  public:
    explicit Clipboard(CallLog& log) : log_(log) {}

    Status clear() override {
        const bool fail = log_.record("clipboard.clear");
        if (!fail) {
            text.reset();
        }
        return statusFor(fail, "clear");
    }
    Result<bool> hasText() override {
        if (log_.record("clipboard.hasText")) {
            return Result<bool>::failure("injected");
        }
        return Result<bool>::success(text.has_value());
    }
    Result<std::u16string> getText() override {
        if (log_.record("clipboard.getText") || !text) {
            return Result<std::u16string>::failure("no text");
        }
        return Result<std::u16string>::success(*text);
    }
    std::uint64_t changeCount() override { return count; }
    Status setText(const std::u16string& t) override {
        const bool fail = log_.record("clipboard.setText");
        if (!fail) {
            text = t;
            history.push_back(t);
        }
        return statusFor(fail, "setText");
    }
    // Clears and sets the text as a real backend does (both logged), then logs the offer itself. A
    // slot's text is also offered as the primary selection until endPaste.
    Status offerForPaste(const std::u16string& t, WindowHandle target, PasteKind kind) override {
        static_cast<void>(clear());  // the text set next replaces whatever is left
        if (Status set = setText(t); !set) {
            return set;
        }
        pasteTarget = target;
        const bool fail = log_.record("clipboard.offerForPaste");
        if (!fail && kind == PasteKind::SlotText) {
            primary = t;
        }
        return statusFor(fail, "offerForPaste");
    }
    Status waitUntilPasted(std::chrono::milliseconds) override {
        return statusFor(log_.record("clipboard.waitUntilPasted"), "waitUntilPasted");
    }
    void endPaste() override {
        log_.record("clipboard.endPaste");
        primary.reset();
    }
    Status waitForCopyFrom(WindowHandle target, std::chrono::milliseconds) override {
        copyTarget = target;
        const bool fail = log_.record("clipboard.waitForCopyFrom");
        if (!fail && onCopyKey) {
            onCopyKey();
        }
        return statusFor(fail, "waitForCopyFrom");
    }

    std::optional<std::u16string> text;
    std::optional<std::u16string> primary;
    std::uint64_t count = 0;  // what changeCount answers; 0: unknown
    std::vector<std::u16string> history;
    std::function<void()> onCopyKey;  // what the target puts on the clipboard when asked to copy
    WindowHandle pasteTarget = 0;     // the window named by the last offerForPaste
    WindowHandle copyTarget = 0;      // the window named by the last waitForCopyFrom

  private:
    CallLog& log_;
};

class Keyboard : public varnel::Keyboard {
  public:
    explicit Keyboard(CallLog& log) : log_(log) {}
    Status pressPasteKey() override { return statusFor(log_.record("keys.pasteKey"), "pasteKey"); }
    Status pressCopyKey() override { return statusFor(log_.record("keys.copyKey"), "copyKey"); }
    // Types sliceLength characters per slice (0: all in one) and calls the hook between slices.
    Status typeText(const std::u16string& t, const BetweenSlices& betweenSlices) override {
        const bool fail = log_.record("keys.type");
        if (fail) {
            return statusFor(fail, "type");
        }
        typed.emplace_back();
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (sliceLength != 0 && i != 0 && i % sliceLength == 0 && betweenSlices && !betweenSlices()) {
                break;
            }
            typed.back().push_back(t[i]);
        }
        return Status::success();
    }
    Status waitUntilSent() override { return statusFor(log_.record("keys.wait"), "wait"); }

    std::vector<std::u16string> typed;
    std::size_t sliceLength = 0;

  private:
    CallLog& log_;
};

// An input method that is on, off or of unknown state; suspend() switches it off, restore() back.
class InputMethodControl : public varnel::InputMethodControl {
  public:
    explicit InputMethodControl(CallLog& log) : log_(log) {}
    Result<bool> suspend() override {
        if (log_.record("im.suspend") || !known) {
            return Result<bool>::failure("injected failure: im.suspend");
        }
        suspended = on;
        on = false;
        return Result<bool>::success(suspended);
    }
    Status restore() override {
        if (log_.record("im.restore")) {
            return statusFor(true, "im.restore");
        }
        on = on || suspended;
        suspended = false;
        if (onRestore) {
            onRestore();
        }
        return Status::success();
    }
    bool on = true;
    bool known = true;
    bool suspended = false;
    std::function<void()> onRestore;

  private:
    CallLog& log_;
};

// Time stands still unless a test or the pump moves it.
class Clock : public varnel::Clock {
  public:
    std::chrono::steady_clock::time_point now() const override { return time; }
    void advance(std::chrono::milliseconds d) { time += d; }
    std::chrono::steady_clock::time_point time{};
};

class EventPump : public varnel::EventPump {
  public:
    explicit EventPump(CallLog& log) : log_(log) {}
    void pumpOnce() override {
        log_.record("pump");
        if (clockToAdvance != nullptr) {
            clockToAdvance->advance(std::chrono::milliseconds(10));
        }
        if (onPump) {
            auto handler = std::move(onPump);  // a handler runs once, like a pending event
            handler();
        }
    }
    std::function<void()> onPump;

    Clock* clockToAdvance = nullptr;  // each pump takes 10 ms of it when set

  private:
    CallLog& log_;
};

class TickTimer : public varnel::TickTimer {
  public:
    explicit TickTimer(CallLog& log) : log_(log) {}
    void setEnabled(bool on) override {
        log_.record(on ? "timer.on" : "timer.off");
        enabled = on;
    }
    bool isEnabled() const override { return enabled; }
    bool enabled = true;

  private:
    CallLog& log_;
};

class Files : public varnel::Files {
  public:
    explicit Files(CallLog& log) : log_(log) {}
    std::string argumentString() const override {
        log_.record("files.argumentString");
        return arguments;
    }
    bool matchesNormalFile(const std::string& pattern) const override {
        log_.record("files.match " + pattern);
        return contents.count(pattern) != 0 && hidden.count(pattern) == 0;
    }
    Result<std::string> readBytes(const std::string& path) const override {
        if (log_.record("files.read " + path)) {
            return Result<std::string>::failure("injected");
        }
        auto it = contents.find(path);
        if (it == contents.end()) {
            return Result<std::string>::failure("no such file");
        }
        return Result<std::string>::success(it->second);
    }
    std::string arguments;
    std::map<std::string, std::string> contents;
    std::set<std::string> hidden;

  private:
    CallLog& log_;
};

// Decodes ASCII only; every other byte becomes U+FFFD. Tests of the real decoder use the real backend.
class Codepage : public varnel::Codepage {
  public:
    explicit Codepage(CallLog& log) : log_(log) {}
    Result<std::u16string> decodeCp932(std::string_view bytes) const override {
        if (log_.record("codepage.decode")) {
            return Result<std::u16string>::failure("injected");
        }
        std::u16string out;
        for (unsigned char c : bytes) {
            out.push_back(c < 0x80 ? char16_t(c) : u'\uFFFD');
        }
        return Result<std::u16string>::success(out);
    }

  private:
    CallLog& log_;
};

class MainWindowView : public varnel::MainWindowView {
  public:
    explicit MainWindowView(CallLog& log) : log_(log) {}
    std::u16string text(std::int16_t index) const override {
        return valid(index) ? texts[index - 1] : std::u16string{};
    }
    bool setText(std::int16_t index, const std::u16string& t) override {
        if (log_.record("slot.setText " + std::to_string(index)) || !valid(index)) {
            return false;
        }
        texts[index - 1] = t;
        return true;
    }
    bool setBackground(std::int16_t index, SlotBackground colour) override {
        log_.record("slot.background " + std::to_string(index) +
                    (colour == SlotBackground::Capture ? " capture" : " window"));
        if (!valid(index)) {
            return false;
        }
        backgrounds[index - 1] = colour;
        return true;
    }
    WindowHandle nativeHandle() override {
        log_.record("form.nativeHandle");
        return handle;
    }
    void setLeft(double twips) override {
        log_.record("form.setLeft " + std::to_string(static_cast<long>(twips)));
        left = twips;
    }
    void show() override {
        log_.record("form.show");
        shown = true;
    }
    double outerWidthTwips() const override { return outerWidth; }
    double outerHeightTwips() const override { return outerHeight; }
    // Like a real window, every size change runs the resize handler before the setter returns.
    void setOuterWidthTwips(double twips) override {
        log_.record("form.setWidth " + std::to_string(static_cast<long>(twips)));
        outerWidth = twips;
        if (onResize) {
            onResize();
        }
    }
    void setOuterHeightTwips(double twips) override {
        log_.record("form.setHeight " + std::to_string(static_cast<long>(twips)));
        outerHeight = twips;
        if (onResize) {
            onResize();
        }
    }
    bool isMinimized() const override { return minimized; }
    void setSlotWidth(std::int16_t index, double twips) override {
        if (valid(index)) {
            slotWidths[index - 1] = twips;
        }
    }
    void reportKeyFailure(const std::string& why) override {
        log_.record("form.reportKeyFailure");
        failures.push_back(why);
    }
    void reportPastedInsteadOfTyped(const std::string& why) override {
        log_.record("form.reportPastedInsteadOfTyped");
        failures.push_back(why);
    }
    void reportClipboardFailure(const std::string& why) override {
        log_.record("form.reportClipboardFailure");
        failures.push_back(why);
    }
    void writeDiagnostic(const std::string& line) override {
        log_.record("form.writeDiagnostic");
        diagnostics.push_back(line);
    }

    static bool valid(std::int16_t i) { return i >= 1 && i <= 10; }
    std::u16string texts[10];
    SlotBackground backgrounds[10] = {};
    WindowHandle handle = 0x500001;
    double left = 7905;
    bool shown = false;
    double outerWidth = 3840;
    double outerHeight = 3375;
    bool minimized = false;
    double slotWidths[10] = {2655, 2655, 2655, 2655, 2685, 2655, 2655, 2655, 2655, 2655};
    std::function<void()> onResize;
    std::vector<std::string> failures;
    std::vector<std::string> diagnostics;  // the lines written to writeDiagnostic

  private:
    CallLog& log_;
};

class SecondaryWindows : public varnel::SecondaryWindows {
  public:
    explicit SecondaryWindows(CallLog& log) : log_(log) {}
    void unloadSlotMenu() override { log_.record("unload menu"); }
    void unloadSettingsDialog() override { log_.record("unload settings"); }
    void unloadEditDialog() override { log_.record("unload edit"); }

  private:
    CallLog& log_;
};

// Everything a handler needs, wired to the fakes.
struct World {
    CallLog log;
    WindowSystem windows{log};
    fake::Clipboard clipboard{log};
    fake::Keyboard keyboard{log};
    EventPump pump{log};
    TickTimer timer{log};
    fake::Files files{log};
    fake::Codepage codepage{log};
    fake::Clock clock;
    fake::InputMethodControl inputMethod{log};  // given to the platform by the tests that need one
    MainWindowView form{log};
    SecondaryWindows forms{log};
    AppState state;
    MainWindowState mainState;
    Platform platform{windows, clipboard, keyboard, pump, timer, files, codepage, clock};
    AppContext ctx{state, mainState, form, platform};

    World() { pump.clockToAdvance = &clock; }

    // The start values as LoadMainWindow leaves them without a slot file.
    void startValues() {
        state.SendMode = SendByPaste;
        state.CaptureEnabled = true;
        state.RotationCount = 1;
        state.DisplayMode = DisplaySize::FiveRows;
        mainState.OwnWindow = form.handle;
        mainState.ZOrderMode = ZOrderMode::Topmost;
        mainState.RotationCursor = 0;
    }
};

}  // namespace varnel::fake
