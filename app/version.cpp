#include "app/version.h"

#include "foldra_version.h"

namespace app {

std::string version() { return FOLDRA_VERSION; }

std::string versionText() { return "foldra " FOLDRA_VERSION " (" FOLDRA_BUILT_FROM ")"; }

}  // namespace app
