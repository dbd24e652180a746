// The entries of a ZIP archive, for tests that read what a download holds.
#pragma once

#include <minizip/unzip.h>

#include <map>
#include <string>

namespace testing_support {

/// Name -> content of every entry that reads back whole; empty when the archive cannot be opened.
inline std::map<std::string, std::string> unzipAll(const std::string& path) {
  std::map<std::string, std::string> entries;
  unzFile zip = unzOpen64(path.c_str());
  if (!zip) return entries;
  for (int more = unzGoToFirstFile(zip); more == UNZ_OK; more = unzGoToNextFile(zip)) {
    char name[512];
    unz_file_info64 info{};
    unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    std::string content(info.uncompressed_size, '\0');
    unzOpenCurrentFile(zip);
    const int read = unzReadCurrentFile(zip, content.data(), static_cast<unsigned>(content.size()));
    unzCloseCurrentFile(zip);
    if (read == static_cast<int>(content.size())) entries[name] = content;
  }
  unzClose(zip);
  return entries;
}

}  // namespace testing_support
