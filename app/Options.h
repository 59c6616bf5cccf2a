// The command-line options --help, --version and --autostart, which need no display.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnel {

// Carries out the option the arguments ask for and returns the exit status; nothing when the
// program is to start as usual.
std::optional<int> RunCommandLineOption(const std::vector<std::string>& arguments);

}  // namespace varnel
