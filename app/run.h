// One run of the foldra program: inputs into a document of our host, the module's command run
// through its dialog, the outputs written.
#pragma once

#include <string>

#include "app/options.h"

namespace app {

/// What went wrong: the exit code (2 for wrong usage, 1 for everything else) and one line.
struct Failure {
  int exitCode = 1;
  std::string message;
};

/// Runs foldra; `programFolder` holds the program, the module file and the bundled example.
/// True on success; otherwise *failure says why, and no output file was written.
bool run(const Options& options, const std::string& programFolder, Failure* failure);

/// The format of an output file from its extension, or "" when foldra cannot write it.
std::string outputKind(const std::string& path);

}  // namespace app
