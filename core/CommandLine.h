// What the command line asks for. The arguments, joined by single spaces, are the path of a slot
// file; a few exact word sequences are options instead, but only while they name no slot file, so
// a file called "--help" is still loaded as a slot file.
#pragma once

#include "platform/Files.h"

namespace varnel {

enum class CommandLineRequest {
    Run,                    // start the program (with the slot file, if the arguments name one)
    Help,                   // --help
    Version,                // --version
    AutostartOn,            // --autostart on
    AutostartOff,           // --autostart off
    AutostartStatus,        // --autostart
    AutostartInvalid,       // --autostart followed by anything else
    GnomeExtensionInstall,  // --gnome-extension install
    GnomeExtensionRemove,   // --gnome-extension remove
    GnomeExtensionInvalid,  // --gnome-extension alone or followed by anything else
};

CommandLineRequest ReadCommandLine(const Files& files);

}  // namespace varnel
