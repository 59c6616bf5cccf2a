#include "slotfile/SlotFileStep.h"

namespace varnel {

void SlotFileStartupStep(AppContext& /*ctx*/) {
    // Slot files are not read yet.
}

}  // namespace varnel
