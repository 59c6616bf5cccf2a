#pragma once

#include "base/Result.h"
#include "core/AppContext.h"

namespace varnel {

// During start-up, after the start values: when the command line names a normal file, switches
// capture off and fills the slots from it. Fails, with capture still switched off and no slot changed,
// when the file was found but could not be read or decoded; succeeds when nothing was named.
Status SlotFileStartupStep(AppContext& ctx);

}  // namespace varnel
