// Former name of core/AppWindows.h, for includes not yet moved to it.
#pragma once

#include "core/AppWindows.h"
