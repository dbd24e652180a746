// Writing a job's outputs: the scene, mesh files and the printable pattern, every file under a
// temporary name first and all moved into place together once every one of them is complete.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/output_formats.h"
#include "job/project.h"
#include "pattern/pattern.h"
#include "scene/document.h"

namespace job {

struct Written {
  /// Every file written, in the order they were moved into place.
  std::vector<std::string> files;
  /// The files of each output in the order they were asked for (a pattern's SVG or PNG output
  /// is one file per sheet).
  std::vector<std::vector<std::string>> byOutput;
  /// The pattern's warnings, each said once however many pattern outputs share it.
  std::vector<std::string> warnings;
  /// The pattern's packing, shared by every pattern output; unset when none was asked for.
  std::optional<pattern::Packing> packing;
  /// The pattern's SVG and PNG outputs begin with an overview page (before the sheets).
  bool overview = false;
};

/// What a project output (NAME.foldra) holds: the model as it was before the run, the folder its
/// relative texture paths are relative to, and the run.
struct ProjectSource {
  const scene::Document* model = nullptr;
  std::string textureFolder;
  ProjectRun run;
};

/// Writes every output of the finished document, each in a thread of its own. The pattern is
/// packed once with `options` and drawn into every pattern output; a project output is written
/// from `project`, which must then be given. All or nothing: false with *error set (naming the
/// file as the caller named it, never by its temporary name) and no file written or changed.
bool writeOutputs(const scene::Document& document, const pattern::PatternInput& pattern,
                  const pattern::PatternOptions& options, const std::vector<std::string>& paths, Written* written,
                  std::string* error, const ProjectSource* project = nullptr);

}  // namespace job
