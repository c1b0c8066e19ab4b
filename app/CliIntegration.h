// palvex-cli --integrate and --remove-integration: the context-menu entries
// without the desktop program's dialog, for installers and scripts.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace palvex {

// The exit status when the arguments (after the program path) ask for an
// integration or its removal; nothing for any other command line. What the
// settings store has to tell (a damaged file kept aside) goes to stderr.
std::optional<int> RunIntegrationCommand(const std::vector<std::string>& arguments);

} // namespace palvex
