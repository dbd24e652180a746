#include "job/output_formats.h"

#include <cctype>
#include <filesystem>

#include "formats/mesh_io.h"
#include "job/project.h"
#include "pattern/pattern.h"

namespace job {

namespace {

/// The file a mesh writer puts beside its own, which the manual page names.
std::string companionOf(const std::string& extension) {
  if (extension == ".obj") return ".mtl";
  if (extension == ".gltf") return ".bin";
  return "";
}

}  // namespace

const std::vector<OutputFormat>& outputFormats() {
  static const std::vector<OutputFormat> formats = [] {
    // The scene is the program's own file: the document after the run.
    std::vector<OutputFormat> list{{".json", OutputKind::Scene, "", false}};
    for (const std::string& extension : formats::exportExtensions()) {
      list.push_back({extension, OutputKind::Mesh, companionOf(extension), false});
    }
    for (const pattern::PatternFormat& format : pattern::patternFormats()) {
      list.push_back({format.extension, OutputKind::Pattern, "", format.filePerPage});
    }
    // The model before the run with the run's settings, to run again or edit further.
    list.push_back({kProjectExtension, OutputKind::Project, "", false});
    return list;
  }();
  return formats;
}

const OutputFormat* formatOfExtension(std::string_view extension) {
  std::string lower(extension);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const OutputFormat& f : outputFormats()) {
    if (f.extension == lower) return &f;
  }
  return nullptr;
}

const OutputFormat* formatOfPath(const std::string& path) {
  return formatOfExtension(std::filesystem::path(path).extension().string());
}

OutputKind outputKind(const std::string& path) {
  const OutputFormat* format = formatOfPath(path);
  return format ? format->kind : OutputKind::Unknown;
}

}  // namespace job
