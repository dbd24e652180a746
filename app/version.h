// The program's version and the commit it was built from.
#pragma once

#include <string>

namespace app {

/// The version number alone, for example "1.0.0".
std::string version();

/// What `foldra --version` prints: the version and the commit the program was built from, for
/// example "foldra 1.0.0 (commit 34827c7a1b2c)", with "with local changes" when the checkout had
/// uncommitted changes, or a note that it was not built from a git checkout.
std::string versionText();

}  // namespace app
