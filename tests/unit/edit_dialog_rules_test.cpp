#include <gtest/gtest.h>

#include <algorithm>

#include "editing/EditDialogRules.h"
#include "fakes/FakePlatform.h"

namespace varnel {
namespace {

using Calls = std::vector<std::string>;
constexpr WindowHandle Target = 0x200;
constexpr WindowHandle Other = 0x300;
constexpr WindowHandle DialogHandle = 0x700001;

// The edit dialog over the fakes: its window exists while it is loaded; the text box is a plain string that
// a test edits as the user would.
class FakeEditDialogView : public EditDialogView {
  public:
    FakeEditDialogView(fake::CallLog& log, fake::WindowSystem& windows) : log_(log), windows_(windows) {}

    bool isLoaded() const override { return loaded; }
    void load() override {
        log_.record("edit.load");
        loaded = true;
        windows_.existing.insert(DialogHandle);
    }
    void show() override { log_.record("edit.show"); }
    void activate() override {
        log_.record("edit.activate");
        windows_.foreground = DialogHandle;
    }
    WindowHandle nativeHandle() override { return DialogHandle; }
    void setCaption(const std::u16string& c) override { caption = c; }
    std::u16string text() const override { return box; }
    void setText(SharedText t) override { box = t.str(); }
    std::optional<std::int16_t> editedSlot() const override { return slot; }
    void setEditedSlot(std::int16_t s) override { slot = s; }
    void destroy() override {
        log_.record("edit.destroy");
        loaded = false;
        caption.clear();
        box.clear();
        slot.reset();
        windows_.existing.erase(DialogHandle);
        if (windows_.foreground == DialogHandle) {
            windows_.foreground = 0;
        }
    }

    bool loaded = false;
    std::u16string caption, box;
    std::optional<std::int16_t> slot;

  private:
    fake::CallLog& log_;
    fake::WindowSystem& windows_;
};

struct EditDialogTest : ::testing::Test {
    fake::World w;
    FakeEditDialogView form{w.log, w.windows};
    EditDialogHandlers handlers{w.ctx, form};

    void SetUp() override {
        w.startValues();
        w.windows.existing = {Target, Other, w.form.handle};
        w.windows.foreground = w.form.handle;  // the slot was just double-clicked
        w.state.TargetWindow = Target;
        for (int i = 0; i < 10; ++i) {
            w.form.texts[i] = u"slot " + std::u16string(1, char16_t(u'1' + i));
        }
        w.form.texts[2] = u"line one\r\nline two";
    }
    int count(const std::string& op) const { return w.log.count(op); }
    // The close handler ran once to its end: the focus went back and the tick timer is on again.
    void expectClosedOnceTo(WindowHandle target) {
        EXPECT_FALSE(form.loaded);
        EXPECT_EQ(count("edit.destroy"), 1);
        EXPECT_EQ(count("timer.on"), 1);
        EXPECT_EQ(w.windows.foreground, target);
        EXPECT_EQ(w.state.TargetWindow, target);
        EXPECT_TRUE(w.timer.enabled);
    }
};

TEST_F(EditDialogTest, OpeningCreatesShowsMakesTopmostAndFillsTheDialog) {
    handlers.OpenEditDialog(3);
    EXPECT_EQ(w.state.SavedTarget, Target);
    EXPECT_EQ(w.log.calls, (Calls{"edit.load", "edit.show", "setZOrder 7340033 1"}));
    EXPECT_EQ(form.caption, u"テキストの編集（3）");
    EXPECT_EQ(form.box, u"line one\r\nline two");
    EXPECT_EQ(form.slot, 3);
    EXPECT_EQ(w.mainState.EditDialogWindow, DialogHandle);  // the tick may make it the target

    handlers.CancelEdit();
    handlers.OpenEditDialog(10);
    EXPECT_EQ(count("edit.load"), 2);  // created anew after a close, FillEditDialog again
    EXPECT_EQ(count("setZOrder 7340033 1"), 2);
    EXPECT_EQ(form.caption, u"テキストの編集（10）");
    EXPECT_EQ(form.slot, 10);
}

TEST_F(EditDialogTest, OkStoresTheWholeTextIntoTheEditedSlotThenCloses) {
    handlers.OpenEditDialog(3);
    w.windows.foreground = DialogHandle;  // the user works in the dialog
    form.box = u"edited\r\n\tsecond line\n";
    form.slot = 4;  // the dialog's slot number alone says which slot receives the text
    handlers.StoreEditedSlot();
    EXPECT_EQ(w.form.texts[3], u"edited\r\n\tsecond line\n");
    EXPECT_EQ(w.form.texts[2], u"line one\r\nline two");
    // The slot is written before the close handler runs.
    const auto& c = w.log.calls;
    EXPECT_LT(std::find(c.begin(), c.end(), "slot.setText 4"), std::find(c.begin(), c.end(), "timer.off"));
    expectClosedOnceTo(Target);
}

TEST_F(EditDialogTest, OkWithAnEmptiedBoxEmptiesTheSlot) {
    handlers.OpenEditDialog(5);
    form.box.clear();
    handlers.StoreEditedSlot();
    EXPECT_EQ(w.form.texts[4], u"");
}

TEST_F(EditDialogTest, CancelAndUnloadDiscardTheTextAndRunTheCloseHandlerOnce) {
    handlers.OpenEditDialog(2);
    form.box = u"thrown away";
    handlers.CancelEdit();
    EXPECT_EQ(w.form.texts[1], u"slot 2");
    expectClosedOnceTo(Target);

    w.log = fake::CallLog{};
    handlers.OpenEditDialog(2);
    form.box = u"thrown away too";
    handlers.unload();
    EXPECT_EQ(w.form.texts[1], u"slot 2");
    expectClosedOnceTo(Target);
    // Closing what is not open does nothing; after the unload nothing opens any more.
    handlers.close();
    handlers.StoreEditedSlot();
    handlers.OpenEditDialog(4);
    EXPECT_EQ(count("edit.destroy"), 1);
    EXPECT_EQ(count("edit.load"), 1);
    EXPECT_EQ(w.form.texts[1], u"slot 2");
}

TEST_F(EditDialogTest, SecondDoubleClickRefillsTheSameDialogForTheNewSlot) {
    handlers.OpenEditDialog(3);
    form.box = u"edits to slot three";
    // The user went to another window and then double-clicked slot 7 while the dialog stayed open.
    w.state.TargetWindow = Other;
    handlers.OpenEditDialog(7);
    EXPECT_EQ(count("edit.load"), 1);
    EXPECT_EQ(count("edit.activate"), 1);  // brought to the front
    EXPECT_EQ(form.caption, u"テキストの編集（7）");
    EXPECT_EQ(form.box, u"slot 7");
    EXPECT_EQ(form.slot, 7);
    EXPECT_EQ(w.state.SavedTarget, Other);

    form.box = u"new seven";
    handlers.StoreEditedSlot();
    EXPECT_EQ(w.form.texts[6], u"new seven");
    EXPECT_EQ(w.form.texts[2], u"line one\r\nline two");
    expectClosedOnceTo(Other);
}

TEST_F(EditDialogTest, RefillWhileTheDialogIsTheTargetKeepsTheEarlierTarget) {
    handlers.OpenEditDialog(3);
    // A tick ran while the dialog was in the foreground: the dialog itself became the target.
    w.state.TargetWindow = DialogHandle;
    handlers.OpenEditDialog(7);
    EXPECT_EQ(w.state.SavedTarget, Target);
    handlers.CancelEdit();
    expectClosedOnceTo(Target);
}

TEST_F(EditDialogTest, CaptureIntoTheEditedSlotIsOverwrittenOnOkAndKeptOnCancel) {
    handlers.OpenEditDialog(1);
    w.form.texts[0] = u"captured meanwhile";
    handlers.StoreEditedSlot();
    EXPECT_EQ(w.form.texts[0], u"slot 1");

    handlers.OpenEditDialog(1);
    form.box = u"edited";
    w.form.texts[0] = u"captured meanwhile";
    handlers.CancelEdit();
    EXPECT_EQ(w.form.texts[0], u"captured meanwhile");
}

TEST_F(EditDialogTest, EventsDuringTheCloseHandlersYieldDoNotCloseTwice) {
    handlers.OpenEditDialog(3);
    form.box = u"edited";
    // While the focus return pumps events: the close box, Ｏ Ｋ and another close arrive.
    w.pump.onPump = [&] {
        EXPECT_TRUE(handlers.closing());
        handlers.close();
        handlers.StoreEditedSlot();
        handlers.unload();
    };
    handlers.CancelEdit();
    EXPECT_EQ(w.form.texts[2], u"line one\r\nline two");
    expectClosedOnceTo(Target);
}

TEST_F(EditDialogTest, DoubleClickDuringTheCloseOpensTheDialogAfterIt) {
    handlers.OpenEditDialog(3);
    w.pump.onPump = [&] { handlers.OpenEditDialog(8); };
    handlers.CancelEdit();
    EXPECT_EQ(count("edit.destroy"), 1);
    EXPECT_EQ(count("edit.load"), 2);
    EXPECT_TRUE(form.loaded);
    EXPECT_EQ(form.caption, u"テキストの編集（8）");
    EXPECT_EQ(form.box, u"slot 8");
    EXPECT_EQ(w.state.SavedTarget, Target);
}

}  // namespace
}  // namespace varnel
