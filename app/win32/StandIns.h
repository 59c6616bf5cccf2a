// Stand-ins for the window-system, clipboard and keyboard services until the Windows backends are in
// place: every operation fails, except the screen metrics, which docking needs.
#pragma once

#include <windows.h>

#include "platform/Clipboard.h"
#include "platform/Keyboard.h"
#include "platform/WindowSystem.h"

namespace varnel {

class StandInWindowSystem : public WindowSystem {
  public:
    Result<WindowHandle> foregroundWindow() override { return Result<WindowHandle>::failure(Missing); }
    Status makeForeground(WindowHandle) override { return Status::failure(Missing); }
    bool windowExists(WindowHandle) override { return false; }
    Status setZOrder(WindowHandle, ZOrderMode) override { return Status::failure(Missing); }
    Result<int> screenWidthPixels() override { return Result<int>::success(GetSystemMetrics(SM_CXSCREEN)); }
    Result<TwipsPerPixel> twipsPerPixel() override { return Result<TwipsPerPixel>::success(TwipsPerPixel{}); }

  private:
    static constexpr const char* Missing = "no window-system backend";
};

class StandInClipboard : public Clipboard {
  public:
    Status clear() override { return Status::failure(Missing); }
    Result<bool> hasText() override { return Result<bool>::failure(Missing); }
    Result<std::u16string> getText() override { return Result<std::u16string>::failure(Missing); }
    std::uint64_t changeCount() override { return 0; }
    Status setText(const std::u16string&) override { return Status::failure(Missing); }
    Status expectPasteFrom(WindowHandle) override { return Status::failure(Missing); }
    Status waitForPasteRequest(std::chrono::milliseconds) override { return Status::failure(Missing); }
    Status waitForForeignOwner(WindowHandle, std::chrono::milliseconds) override {
        return Status::failure(Missing);
    }
    Status offerOnPrimary(const std::u16string&) override { return Status::success(); }
    Status restorePrimary() override { return Status::success(); }

  private:
    static constexpr const char* Missing = "no clipboard backend";
};

class StandInKeyboard : public Keyboard {
  public:
    using Keyboard::typeText;
    Status pressShiftInsert() override { return Status::failure(Missing); }
    Status pressCtrlInsert() override { return Status::failure(Missing); }
    Status typeText(const std::u16string&, const BetweenSlices&) override { return Status::failure(Missing); }
    Status waitUntilSent() override { return Status::failure(Missing); }

  private:
    static constexpr const char* Missing = "no keyboard backend";
};

}  // namespace varnel
