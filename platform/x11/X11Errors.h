#pragma once

namespace varnel {

// Installs, once per process, an Xlib error handler that never ends the process. X errors on our
// connections are detected through the return values of the calls that can fail; the handler only
// keeps Xlib's default handler (which exits) out of the way. Safe to call from any thread.
void InstallQuietX11ErrorHandler();

}  // namespace varnel
