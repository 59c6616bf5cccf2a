// Owns the edit dialog for the main window: creates the Qt dialog when a slot is double-clicked, connects its
// buttons and close box to the handlers, and destroys it when it closes.
#pragma once

#include <string>

#include "core/AppContext.h"
#include "ui/edit/EditDialog.h"
#include "ui/hosts/DialogHosts.h"

namespace varnel {

class EditDialogHost : public EditDialogHostBase<EditDialog> {
  public:
    explicit EditDialogHost(AppContext& ctx);
    ~EditDialogHost() override;

    // EditDialogView
    void load() override;
    void show() override;
    void activate() override;
    WindowHandle nativeHandle() override;
    void setCaption(const std::u16string& caption) override;
    void destroy() override;
};

}  // namespace varnel
