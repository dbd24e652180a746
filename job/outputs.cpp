#include "job/outputs.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>

#include "formats/files.h"
#include "formats/mesh_io.h"
#include "formats/scene_json.h"

namespace job {

namespace fs = std::filesystem;

namespace {

/// Output files written into a hidden folder beside their destination, and moved into place
/// together once every one of them is complete.
class Staging {
 public:
  ~Staging() { discard(); }
  /// Where to write the file that is to become `path`; empty with *error set when its folder
  /// cannot be used.
  std::string stage(const std::string& path, std::string* error) {
    const fs::path destination = fs::absolute(path).parent_path();
    std::error_code ec;
    if (!fs::is_directory(destination, ec)) {
      *error = destination.string() + ": no such folder (for " + path + ")";
      return "";
    }
    auto it = folders_.find(destination.string());
    if (it == folders_.end()) {
      const fs::path temporary = destination / (".foldra-" + std::to_string(getpid()));
      fs::remove_all(temporary, ec);
      if (!fs::create_directory(temporary, ec)) {
        *error = destination.string() + ": cannot be written";
        return "";
      }
      it = folders_.emplace(destination.string(), temporary.string()).first;
    }
    return (fs::path(it->second) / fs::path(path).filename()).string();
  }
  /// Where a file staged as `staged` lands.
  std::string destinationOf(const std::string& staged) const {
    const fs::path folder = fs::path(staged).parent_path();
    for (const auto& [destination, temporary] : folders_) {
      if (fs::path(temporary) == folder) return (fs::path(destination) / fs::path(staged).filename()).string();
    }
    return staged;
  }
  /// Moves every staged file into place, all or nothing; the files written, in that order.
  bool commit(std::vector<std::string>* written, std::string* error) {
    std::vector<std::pair<std::string, std::string>> moves;
    for (const auto& [destination, temporary] : folders_) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(temporary)) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) moves.emplace_back(file.string(), (fs::path(destination) / file.filename()).string());
    }
    if (!formats::moveAllOrNothing(moves, error)) return false;
    for (const auto& [from, to] : moves) written->push_back(to);
    discard();
    return true;
  }

 private:
  void discard() {
    for (const auto& [destination, temporary] : folders_) {
      std::error_code ec;
      fs::remove_all(temporary, ec);
    }
    folders_.clear();
  }
  std::map<std::string, std::string> folders_;  // destination folder -> staging folder
};

/// One output as its thread leaves it.
struct Result {
  std::string staged;
  bool ok = true;
  std::string error;
  std::vector<std::string> files;
  std::vector<std::string> warnings;
};

}  // namespace

bool writeOutputs(const scene::Document& document, const pattern::PatternInput& pattern,
                  const pattern::PatternOptions& options, const std::vector<std::string>& paths, Written* written,
                  std::string* error, const ProjectSource* project) {
  *written = Written{};
  Staging staging;
  std::vector<Result> results(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    results[i].staged = staging.stage(paths[i], error);
    if (results[i].staged.empty()) return false;
  }
  std::vector<const scene::Object*> objects;
  for (const scene::Object* o : document.allObjects()) objects.push_back(o);
  // The pattern is packed and drawn once, by the thread of its first output, and written into
  // every pattern output from there.
  std::vector<std::size_t> patternOutputs;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (outputKind(paths[i]) == OutputKind::Pattern) patternOutputs.push_back(i);
  }
  pattern::PatternReport patternReport;
  auto writePattern = [&](Result& r) {
    std::vector<std::string> staged;
    for (const std::size_t i : patternOutputs) staged.push_back(results[i].staged);
    if (options.progress) options.progress("Packing the sheets", -1);
    const pattern::Packing packing = pattern::packPattern(pattern, options);
    r.ok = pattern::writePattern(pattern, options, packing, staged, &patternReport, &r.error);
    if (!r.ok) return;
    for (std::size_t k = 0; k < patternOutputs.size(); ++k) results[patternOutputs[k]].files = patternReport.byPath[k];
    r.warnings = patternReport.warnings;
  };
  auto write = [&](std::size_t i) {
    Result& r = results[i];
    switch (outputKind(paths[i])) {
      case OutputKind::Scene:
        r.ok = formats::saveScene(document, r.staged, &r.error);
        break;
      case OutputKind::Mesh:
        r.ok = formats::exportMesh(document, objects, r.staged, &r.error);
        break;
      case OutputKind::Pattern:
        if (i == patternOutputs.front()) writePattern(r);
        break;
      case OutputKind::Project:
        if (project && project->model) {
          r.ok = writeProject(*project->model, project->textureFolder, project->run, r.staged, &r.error);
        } else {
          r.ok = false;
          r.error = paths[i] + ": a project holds the model before the run, which this run did not keep";
        }
        break;
      case OutputKind::Unknown:
        r.ok = false;
        r.error = paths[i] + ": unknown output format";
        break;
    }
    if (outputKind(paths[i]) != OutputKind::Pattern) r.files.push_back(r.staged);
  };
  // Every output reads the finished document and writes files of its own: side by side.
  {
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < paths.size(); ++i) {
      if (outputKind(paths[i]) != OutputKind::Pattern || i == patternOutputs.front()) threads.emplace_back(write, i);
    }
    if (!paths.empty()) write(0);
    for (std::thread& t : threads) t.join();
  }
  if (!patternOutputs.empty()) {
    Result& first = results[patternOutputs.front()];
    if (!first.ok) {
      // The pattern's error may name any of its outputs by its staging path.
      *error = first.error;
      for (const std::size_t i : patternOutputs) {
        const auto at = error->find(results[i].staged);
        if (at != std::string::npos) error->replace(at, results[i].staged.size(), paths[i]);
      }
      return false;
    }
    written->packing = patternReport.packing;
    written->overview = patternReport.overview;
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Result& r = results[i];
    if (!r.ok) {
      // Errors name the staging path; the caller knows the file by the name it gave.
      *error = r.error;
      const auto at = error->find(r.staged);
      if (at != std::string::npos) error->replace(at, r.staged.size(), paths[i]);
      return false;
    }
    std::vector<std::string> files;
    for (const std::string& f : r.files) files.push_back(staging.destinationOf(f));
    written->byOutput.push_back(std::move(files));
    // Several pattern outputs share one layout: each warning is said once.
    for (const std::string& warning : r.warnings) {
      if (std::find(written->warnings.begin(), written->warnings.end(), warning) == written->warnings.end()) {
        written->warnings.push_back(warning);
      }
    }
  }
  return staging.commit(&written->files, error);
}

}  // namespace job
