// Writing files so that a failed run never leaves a half-written file behind.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace formats {

/// Writes `content` to a temporary file beside `path` and renames it to `path` when complete.
bool writeFileAtomically(const std::string& path, const std::string& content, std::string* error);

/// Moves each file (first) to its destination (second), all or nothing: when one move fails, the
/// files already moved are taken back and every earlier file of their names is put back as it
/// was; false with *error naming the destination that could not be written.
bool moveAllOrNothing(const std::vector<std::pair<std::string, std::string>>& moves, std::string* error);

/// Files written under temporary names and renamed into place together by commit(); whatever
/// was not committed is deleted when the set goes out of scope.
class StagedFiles {
 public:
  StagedFiles() = default;
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;
  ~StagedFiles();

  /// The temporary name under which to write the file that is to become `path`.
  std::string stage(const std::string& path);
  /// Renames every staged file to its final name, all or nothing (see moveAllOrNothing).
  bool commit(std::string* error);

 private:
  std::vector<std::pair<std::string, std::string>> files_;  // temporary name, final name
};

}  // namespace formats
