// The code page backend of the system the program is built for.
#pragma once

#ifdef _WIN32
#include "platform/win32/Win32Codepage.h"
namespace varnel {
using NativeCodepage = Win32Codepage;
}
#else
#include "platform/posix/IconvCodepage.h"
namespace varnel {
using NativeCodepage = IconvCodepage;
}
#endif
