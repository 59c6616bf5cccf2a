#include "core/SlotFileStep.h"

#include <string>

#include "slotfile/SlotFile.h"

namespace varnel {

Status SlotFileStartupStep(AppContext& ctx) {
    Files& files = ctx.platform.files;
    // The whole argument string is the path: quotes kept, several words one path.
    const std::string path = files.argumentString();
    // Both tests are always made, the file search first.
    const bool matchesFile = files.matchesNormalFile(path);
    const bool named = !path.empty();
    if (!matchesFile || !named) {
        return Status::success();
    }
    ctx.state.CaptureEnabled = false;
    // A file that was found but cannot be read or decoded loads nothing; capture stays off, as for a
    // file without sections. The caller tells the user why.
    return LoadSlotFile(path, files, ctx.platform.codepage, ctx.mainWindow);
}

}  // namespace varnel
