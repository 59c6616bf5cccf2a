#include "core/CommandLine.h"

#include <string>

namespace varnel {

namespace {

CommandLineRequest OptionNamed(const std::string& words) {
    if (words == "--help") {
        return CommandLineRequest::Help;
    }
    if (words == "--version") {
        return CommandLineRequest::Version;
    }
    if (words == "--autostart") {
        return CommandLineRequest::AutostartStatus;
    }
    if (words == "--autostart on") {
        return CommandLineRequest::AutostartOn;
    }
    if (words == "--autostart off") {
        return CommandLineRequest::AutostartOff;
    }
    if (words.starts_with("--autostart ")) {
        return CommandLineRequest::AutostartInvalid;
    }
    if (words == "--gnome-extension install") {
        return CommandLineRequest::GnomeExtensionInstall;
    }
    if (words == "--gnome-extension remove") {
        return CommandLineRequest::GnomeExtensionRemove;
    }
    if (words == "--gnome-extension" || words.starts_with("--gnome-extension ")) {
        return CommandLineRequest::GnomeExtensionInvalid;
    }
    return CommandLineRequest::Run;
}

}  // namespace

CommandLineRequest ReadCommandLine(const Files& files) {
    const std::string words = files.argumentString();
    const CommandLineRequest option = OptionNamed(words);
    // Only option words are looked up, so an ordinary start makes no file search of its own.
    if (option == CommandLineRequest::Run || files.matchesNormalFile(words)) {
        return CommandLineRequest::Run;
    }
    return option;
}

}  // namespace varnel
