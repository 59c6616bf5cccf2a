#include "editing/SettingsDialogRules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "core/DisplayModes.h"
#include "core/Startup.h"
#include "delivery/Delivery.h"

namespace varnel {

namespace {

bool Ignorable(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int DigitValue(char c, int base) {
    int value = base;  // not a digit
    if (IsDigit(c)) {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

// The text without blanks, tabs and line feeds, up to its first character outside ASCII (no number
// reaches past it).
std::string Compact(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (Ignorable(c)) {
            continue;
        }
        if (c >= 0x80) {
            break;
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

double WholeNumber(std::string_view text, int base) {
    double value = 0;
    for (char c : text) {
        const int digit = DigitValue(c, base);
        if (digit < 0) {
            break;
        }
        value = value * base + digit;
    }
    return value;
}

// The power of ten of the leading significant digit of a decimal number that did not fit a double,
// approximately: positive for an overflow, zero or negative for an underflow.
long long DecimalMagnitude(std::string_view mantissa, long long exponent) {
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_not_of("0.");
    if (first == std::string_view::npos) {
        return std::numeric_limits<long long>::min();  // zero
    }
    const long long position =
        first < point ? static_cast<long long>(point - first) : -static_cast<long long>(first - point - 1);
    return position + exponent;
}

double DecimalNumber(std::string_view s) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    bool digits = false;
    while (i < s.size() && IsDigit(s[i])) {
        ++i;
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) {
            ++i;
            digits = true;
        }
    }
    if (!digits) {
        return 0;
    }
    const std::string_view mantissa = s.substr(start, i - start);
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            negativeExponent = s[j] == '-';
            ++j;
        }
        if (j < s.size() && IsDigit(s[j])) {
            for (; j < s.size() && IsDigit(s[j]); ++j) {
                exponent = std::min(exponent * 10 + (s[j] - '0'), 1'000'000'000LL);
            }
            exponent = negativeExponent ? -exponent : exponent;
            i = j;
        }
    }
    const std::string_view number = s.substr(start, i - start);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        value = DecimalMagnitude(mantissa, exponent) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc{} || end != number.data() + number.size()) {
        value = 0;
    }
    return negative ? -value : value;
}

}  // namespace

double ReadNumber(std::u16string_view text) {
    const std::string s = Compact(text);
    if (s.size() >= 2 && s[0] == '&') {
        if (s[1] == 'H' || s[1] == 'h') {
            return WholeNumber(std::string_view(s).substr(2), 16);
        }
        if (s[1] == 'O' || s[1] == 'o') {
            return WholeNumber(std::string_view(s).substr(2), 8);
        }
    }
    return DecimalNumber(s);
}

double RoundHalfToEven(double value) {
    if (!std::isfinite(value)) {
        return value;
    }
    if (std::fabs(value - std::trunc(value)) == 0.5) {
        return 2.0 * std::round(value / 2.0);
    }
    return std::round(value);
}

std::int16_t RotationCountFromText(std::u16string_view text) {
    const double count = RoundHalfToEven(ReadNumber(text));
    if (std::isnan(count) || count > MaxRotationCount) {
        return MaxRotationCount;  // no slot above the tenth
    }
    if (count < std::numeric_limits<std::int16_t>::min()) {
        // Still "no slot coloured, every capture to slot 1", like any other negative count.
        return std::numeric_limits<std::int16_t>::min();
    }
    return static_cast<std::int16_t>(count);
}

std::u16string RotationCountText(std::int16_t count) {
    const std::string digits = std::to_string(count);
    std::u16string text = count >= 0 ? u" " : u"";
    text.append(digits.begin(), digits.end());
    return text;
}

PixelRect KeepOnScreen(PixelRect client, FrameMargins frame, PixelRect area) {
    const auto fit = [](int position, int size, int before, int after, int areaStart, int areaSize) {
        const int last = areaStart + areaSize - after - size;
        return std::max(std::min(position, last), areaStart + before);
    };
    client.left = fit(client.left, client.width, frame.left, frame.right, area.left, area.width);
    client.top = fit(client.top, client.height, frame.top, frame.bottom, area.top, area.height);
    return client;
}

void SettingsDialogHandlers::FillSettingsDialog() {
    const AppState& state = ctx_.state;
    controls_.selectSendMode(state.SendMode);
    controls_.selectDisplaySize(state.DisplayMode);
    controls_.setCaptureChecked(state.CaptureEnabled);
    controls_.setRotationCountBoxText(RotationCountText(state.RotationCount));
}

void SettingsDialogHandlers::ApplySettings() {
    AppState& state = ctx_.state;
    for (const SendMethod mode : {SendByPaste, SendByKeystrokes}) {
        if (controls_.sendModeSelected(mode)) {
            state.SendMode = mode;
        }
    }
    for (const DisplaySize size : {DisplaySize::FiveRows, DisplaySize::ButtonsOnly, DisplaySize::TenRows}) {
        if (controls_.displaySizeSelected(size)) {
            state.DisplayMode = size;
        }
    }
    // Every time: a window the user dragged to another size returns to its preset.
    WindowSizeChange(ctx_);
    state.CaptureEnabled = controls_.captureChecked();
    state.RotationCount = RotationCountFromText(controls_.rotationCountBoxText());
    for (std::int16_t i = FirstSlot; i <= LastSlot; ++i) {
        ctx_.mainWindow.setBackground(i, SlotBackground::Window);
    }
    PaintCaptureSlots(state, ctx_.mainWindow);
    controls_.unload();
}

void SettingsDialogHandlers::CancelSettings() {
    controls_.unload();
}

void SettingsDialogHandlers::ClearAllSlots() {
    for (std::int16_t i = FirstSlot; i <= LastSlot; ++i) {
        ctx_.mainWindow.setText(i, std::u16string{});
    }
}

void SettingsDialogHandlers::CloseSettingsDialog() {
    ReturnFocusFromDialog(ctx_);
}

void OpenSettingsDialog(AppContext& ctx, settings::Dialog& dialog) {
    SaveTargetForDialog(ctx.state, dialog.isLoaded() ? std::optional(dialog.nativeHandle()) : std::nullopt);
    if (dialog.isLoaded()) {
        dialog.show();
        ctx.mainState.SettingsDialogWindow = dialog.nativeHandle();  // the tick may make it the target
        IgnoreFailure(ctx.platform.windows.makeForeground(dialog.nativeHandle()),
                      "the dialog is open all the same, at worst behind another window");
        return;
    }
    dialog.load();
    dialog.show();
    ctx.mainState.SettingsDialogWindow = dialog.nativeHandle();
    SetZOrder(ctx.platform.windows, dialog.nativeHandle(), ZOrderMode::Topmost);
}

}  // namespace varnel
