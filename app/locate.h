// Where the foldra program finds its parts: the module file with its resources, the bundled
// example and the studio's page.
#pragma once

#include <string>

namespace app {

/// The parts of foldra besides the program itself.
struct Locations {
  /// The module file; its resource folder `res` stands beside it.
  std::string module;
  /// The folder holding `examples/` (the bundled example house) and `studio/` (the studio's page
  /// and three.js).
  std::string data;
};

/// The folder of the running program, with symbolic links resolved (so that a link to the
/// program in another folder still finds its parts).
std::string programFolder(const char* argv0);

/// The parts for a program in `programFolder`. In a build tree they stand beside the program;
/// an installed program finds them under its own prefix (`PREFIX/lib/foldra`,
/// `PREFIX/share/foldra`), wherever that prefix was moved, since the paths are relative to the
/// program's folder.
Locations locate(const std::string& programFolder);

}  // namespace app
