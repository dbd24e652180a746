// The manual page foldra(1), written from the same command-line definition that `--help` prints,
// so that the two always name the same options with the same descriptions and defaults.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace app {

/// foldra(1) in roff (the man macros): synopsis, description, every visible option of `cli`
/// and of each of its subcommands with its value, default and exclusions, then the output
/// formats, exit status, files and examples.
std::string manualPage(const CLI::App& cli);

}  // namespace app
