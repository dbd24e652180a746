// The files the program writes, as one list: the scene, then the formats that the mesh writers
// (formats/) and the pattern (pattern/) each list for themselves, then the project (project.h).
// The command line (what `-o` accepts, its help, its messages and the manual page), the writing
// of a job's outputs and the studio (the sheets it serves) all ask here, so a format that a
// writer adds is offered everywhere on the program's side.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace job {

/// What an output file holds.
enum class OutputKind { Unknown, Scene, Mesh, Pattern, Project };

/// One kind of output file.
struct OutputFormat {
  /// The file's extension, lower case with its dot; the extension a person gives decides the
  /// format whatever its case.
  std::string extension;
  OutputKind kind = OutputKind::Unknown;
  /// A file its writer puts beside it under the same name with this extension (an OBJ's
  /// materials, a glTF's buffer); empty for none.
  std::string companion;
  /// A pattern written as one file per sheet (NAME-1.svg, NAME-2.svg, ..., after
  /// NAME-overview.svg), instead of one document with a page per sheet.
  bool perSheet = false;
};

/// Every format, in the order the help lists them: the scene, the meshes, the pattern, the
/// project.
const std::vector<OutputFormat>& outputFormats();
/// The format of this extension (".pdf", any case), or null.
const OutputFormat* formatOfExtension(std::string_view extension);
/// The format a file of this name is written in, by its extension, or null.
const OutputFormat* formatOfPath(const std::string& path);
/// What a file of this name holds; Unknown for an extension no format has.
OutputKind outputKind(const std::string& path);

}  // namespace job
