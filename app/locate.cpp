#include "app/locate.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace app {

std::string programFolder(const char* argv0) {
  std::error_code ec;
  const auto self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return self.parent_path().string();
  return fs::absolute(argv0).parent_path().string();
}

Locations locate(const std::string& programFolder) {
  const fs::path folder(programFolder);
  // The module file beside the program marks a build tree. Only the module decides: a `studio`
  // or `examples` beside an installed program could belong to anything else in that folder.
  std::error_code ec;
  if (fs::is_regular_file(folder / "Foldra_C4d.cdl", ec)) {
    return {(folder / "Foldra_C4d.cdl").string(), folder.string()};
  }
  // The installed layout, from the install folders the build was configured with. Where a part
  // is missing, its path names where it was looked for in the error that follows.
  return {(folder / FOLDRA_MODULE_FROM_PROGRAM / "Foldra_C4d.cdl").lexically_normal().string(),
          (folder / FOLDRA_DATA_FROM_PROGRAM).lexically_normal().string()};
}

}  // namespace app
