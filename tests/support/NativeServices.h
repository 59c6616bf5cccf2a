// The backends of the system the program is built for, for the services that need no window.
#pragma once

#ifdef _WIN32
#include "platform/win32/Win32Codepage.h"
#include "platform/win32/Win32Files.h"
namespace varnel {
using NativeCodepage = Win32Codepage;
using NativeFiles = Win32Files;
}  // namespace varnel
#else
#include "platform/posix/IconvCodepage.h"
#include "platform/posix/PosixFiles.h"
namespace varnel {
using NativeCodepage = IconvCodepage;
using NativeFiles = PosixFiles;
}  // namespace varnel
#endif
