#include "app/Options.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/CommandLine.h"
#include "platform/gnome/ExtensionInstall.h"
#include "platform/posix/Autostart.h"
#include "platform/posix/PosixFiles.h"

namespace varnel {

namespace {

constexpr const char* Usage =
    "Usage: varnel [SLOT-FILE]\n"
    "       varnel --autostart [on|off]\n"
    "       varnel --gnome-extension install|remove\n"
    "       varnel --help | --version\n"
    "\n"
    "Varnel keeps ten text slots in a small always-on-top window, captures new clipboard text\n"
    "into them and sends a slot into the window you last worked in.\n"
    "\n"
    "  SLOT-FILE        fill the slots from this file at start-up; capture then starts off.\n"
    "                   All arguments joined by single spaces are the path.\n"
    "  --autostart on   start Varnel with the desktop session (XDG autostart entry)\n"
    "  --autostart off  stop doing so\n"
    "  --autostart      tell whether it is on\n"
    "  --gnome-extension install\n"
    "                   install Varnel's GNOME Shell extension for this user (GNOME Wayland);\n"
    "                   then log out and in, and enable it with gnome-extensions enable\n"
    "  --gnome-extension remove\n"
    "                   remove it again\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "These words are options only while no file of that name exists; otherwise they name\n"
    "the slot file. See varnel(1).\n";

// The running program's own path, so that the session starts this very program.
std::string OwnProgramPath() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        return "varnel";
    }
    path.resize(static_cast<std::size_t>(length));
    return path;
}

int Autostart(CommandLineRequest request) {
    const auto entry = AutostartEntryPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (!entry) {
        std::fprintf(stderr, "varnel: autostart: %s\n", entry.error().c_str());
        return 1;
    }
    const std::string& path = entry.value();
    if (request != CommandLineRequest::AutostartStatus) {
        const bool on = request == CommandLineRequest::AutostartOn;
        const auto done =
            on ? EnableAutostart(path, OwnProgramPath()) : DisableAutostart(path, OwnProgramPath());
        if (!done) {
            std::fprintf(stderr, "varnel: autostart: %s\n", done.error().c_str());
            return 1;
        }
        if (done.value() == AutostartChange::LeftUsersEntry) {
            // Not ours to change: the user's own entry, perhaps with a slot file on its Exec line.
            const bool enabled = AutostartEnabled(path);
            std::fprintf(stderr, "varnel: autostart: %s was not written by Varnel and was left as it is%s\n",
                         path.c_str(),
                         on == enabled ? ""
                         : on          ? "; edit or remove it to switch autostart on"
                                       : "; edit or remove it to switch autostart off");
            std::printf("autostart %s (%s)\n", enabled ? "on" : "off", path.c_str());
            return on == enabled ? 0 : 1;
        }
    }
    std::printf("autostart %s (%s)\n", AutostartEnabled(path) ? "on" : "off", path.c_str());
    return 0;
}

int GnomeExtension(CommandLineRequest request) {
    const auto folder = gnome::UserExtensionFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (!folder) {
        std::fprintf(stderr, "varnel: gnome-extension: %s\n", folder.error().c_str());
        return 1;
    }
    if (request == CommandLineRequest::GnomeExtensionRemove) {
        if (const Status removed = gnome::RemoveExtension(folder.value()); !removed) {
            std::fprintf(stderr, "varnel: gnome-extension: %s\n", removed.error().c_str());
            return 1;
        }
        std::printf("removed %s\n", folder.value().c_str());
        return 0;
    }
    const std::string version = gnome::InstalledShellVersion();
    const auto form = gnome::FormForShellVersion(version);
    if (const Status installed = gnome::InstallExtension(folder.value(), form); !installed) {
        std::fprintf(stderr, "varnel: gnome-extension: %s\n", installed.error().c_str());
        return 1;
    }
    std::printf(
        "installed %s (for %s)\n"
        "GNOME Shell sees it after the next login; then enable it once with:\n"
        "  gnome-extensions enable %s\n",
        folder.value().c_str(),
        form == gnome::ExtensionForm::Script ? "GNOME Shell 43 and 44" : "GNOME Shell 45 and later",
        gnome::ExtensionUuid());
    return 0;
}

}  // namespace

std::optional<int> RunCommandLineOption(const std::vector<std::string>& arguments) {
    const PosixFiles files(arguments);
    switch (const CommandLineRequest request = ReadCommandLine(files)) {
        case CommandLineRequest::Run:
            return std::nullopt;
        case CommandLineRequest::Help:
            std::fputs(Usage, stdout);
            return 0;
        case CommandLineRequest::Version:
            std::printf("varnel %s\n", VARNEL_VERSION);
            return 0;
        case CommandLineRequest::AutostartInvalid:
            std::fputs("varnel: --autostart takes on or off\n", stderr);
            return 2;
        case CommandLineRequest::AutostartOn:
        case CommandLineRequest::AutostartOff:
        case CommandLineRequest::AutostartStatus:
            return Autostart(request);
        case CommandLineRequest::GnomeExtensionInvalid:
            std::fputs("varnel: --gnome-extension takes install or remove\n", stderr);
            return 2;
        case CommandLineRequest::GnomeExtensionInstall:
        case CommandLineRequest::GnomeExtensionRemove:
            return GnomeExtension(request);
    }
    return std::nullopt;
}

}  // namespace varnel
