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

bool moveAllOrNothing(const std::vector<std::pair<std::string, std::string>>& moves, std::string* error) {
  // Each earlier file of a destination's name gets a second name (a hard link, or a copy where
  // the file system has none) before the rename replaces it, so that it can be put back.
  std::vector<std::pair<std::string, std::string>> kept;  // destination, second name
  std::vector<std::string> placed;
  auto takeBack = [&] {
    std::error_code ignored;
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) fs::remove(*it, ignored);
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) fs::rename(it->second, it->first, ignored);
  };
  for (const auto& [from, to] : moves) {
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(to, ec))) {
      const std::string second = temporaryName(to) + "-earlier";
      fs::remove(second, ec);
      fs::create_hard_link(to, second, ec);
      if (ec) fs::copy_file(to, second, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        takeBack();
        *error = to + ": cannot be written (" + ec.message() + ")";
        return false;
      }
      kept.emplace_back(to, second);
    }
    fs::rename(from, to, ec);
    if (ec) {
      takeBack();
      *error = to + ": cannot be written (" + ec.message() + ")";
      return false;
    }
    placed.push_back(to);
  }
  std::error_code ignored;
  for (const auto& [to, second] : kept) fs::remove(second, ignored);
  return true;
}

bool StagedFiles::commit(std::string* error) {
  std::vector<std::pair<std::string, std::string>> moves;
  for (const auto& [temporary, final] : files_) moves.emplace_back(temporary, final);
  if (!moveAllOrNothing(moves, error)) return false;
  files_.clear();
  return true;
}

}  // namespace formats
