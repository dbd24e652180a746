// ZIP archives as the job writes them (bundle.cpp, project.cpp): entries with a fixed date, so
// that the same files give the same archive, and images named by their own file names.
#pragma once

#include <minizip/zip.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace job {

/// Names of the images in an archive: their own file names, numbered where two images of
/// different paths share one; names already taken (`reserved`) are never given.
class ArchiveNames {
 public:
  explicit ArchiveNames(std::set<std::string> reserved = {}) : taken_(std::move(reserved)) {}
  std::string nameFor(const std::filesystem::path& source) {
    const std::string key = source.lexically_normal().string();
    if (auto it = bySource_.find(key); it != bySource_.end()) return it->second;
    std::string name = source.filename().string();
    for (int n = 2; taken_.count(name); ++n) name = std::to_string(n) + "-" + source.filename().string();
    taken_.insert(name);
    bySource_[key] = name;
    return name;
  }

 private:
  std::map<std::string, std::string> bySource_;
  std::set<std::string> taken_;
};

/// Adds one entry, deflated or stored, with a fixed date; false when the archive refuses it.
/// The whole of a file that goes into an archive; false when it cannot be read.
inline bool readFile(const std::filesystem::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return static_cast<bool>(in) || in.eof();
}

inline bool addArchiveEntry(zipFile zip, const std::string& name, const std::string& content, bool compress) {
  zip_fileinfo info{};
  info.tmz_date.tm_year = 1980;
  info.tmz_date.tm_mday = 1;
  if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, compress ? Z_DEFLATED : 0,
                            compress ? Z_DEFAULT_COMPRESSION : 0, content.size() >= 0xffffffffu ? 1 : 0) != ZIP_OK) {
    return false;
  }
  const bool written = zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())) == ZIP_OK;
  return zipCloseFileInZip(zip) == ZIP_OK && written;
}

}  // namespace job
