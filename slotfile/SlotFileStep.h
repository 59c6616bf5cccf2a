#pragma once

#include "core/AppContext.h"

namespace varnel {

// During start-up, after the start values: when the command line names a normal file, switches
// capture off and fills the slots from it.
void SlotFileStartupStep(AppContext& ctx);

}  // namespace varnel
