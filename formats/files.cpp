#include "formats/files.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace formats {

namespace fs = std::filesystem;

namespace {

std::string temporaryName(const std::string& path) {
  const fs::path p(path);
  return (p.parent_path() / ("." + p.filename().string() + ".tmp-" + std::to_string(getpid()))).string();
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& content, std::string* error) {
  StagedFiles files;
  const std::string temporary = files.stage(path);
  {
    std::ofstream out(temporary, std::ios::binary);
    out << content;
    out.close();
    if (!out) {
      *error = path + ": cannot be written";
      return false;
    }
  }
  return files.commit(error);
}

StagedFiles::~StagedFiles() {
  for (const auto& [temporary, final] : files_) {
    std::error_code ec;
    fs::remove(temporary, ec);
  }
}

std::string StagedFiles::stage(const std::string& path) {
  files_.emplace_back(temporaryName(path), path);
  return files_.back().first;
}

bool StagedFiles::commit(std::string* error) {
  for (const auto& [temporary, final] : files_) {
    std::error_code ec;
    fs::rename(temporary, final, ec);
    if (ec) {
      *error = final + ": cannot be written (" + ec.message() + ")";
      return false;
    }
  }
  files_.clear();
  return true;
}

}  // namespace formats
