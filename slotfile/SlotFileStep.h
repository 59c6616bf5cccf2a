#pragma once

#include "core/AppContext.h"

namespace varnel {

// Start-up step 5: when the command line names a normal file, switches capture off and fills the
// slots from it.
void SlotFileStartupStep(AppContext& ctx);

}  // namespace varnel
