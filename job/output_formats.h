// The files the program writes, one row per extension: read by the command line (what `-o`
// accepts, its help, its messages and the manual page), by the writing of a job's outputs and by
// the studio (the sheets it serves, and the type it sends each file as). The writers themselves
// live in formats/ (the scene, the meshes) and pattern/ (the printable pattern); a format is
// offered by its writer and its row here.
#pragma once

#include <string>
#include <string_view>

namespace job {

/// What an output file holds.
enum class OutputKind { Unknown, Scene, Mesh, Pattern };

/// One kind of output file.
struct OutputFormat {
  /// The file's extension, lower case with its dot; the extension a person gives decides the
  /// format whatever its case.
  std::string_view extension;
  OutputKind kind;
  /// A file written beside it under the same name with this extension (an OBJ's materials, a
  /// glTF's buffer); empty for none.
  std::string_view companion;
  /// A pattern written as one file per sheet (NAME-1.svg, NAME-2.svg, ..., after
  /// NAME-overview.svg), instead of one document with a page per sheet.
  bool perSheet;
  /// The media type a browser is sent the file as.
  std::string_view mediaType;
};

/// Every format, grouped by kind, in the order the help lists them.
inline constexpr OutputFormat kOutputFormats[] = {
    {".json", OutputKind::Scene, "", false, "application/json"},
    {".obj", OutputKind::Mesh, ".mtl", false, "text/plain; charset=utf-8"},
    {".glb", OutputKind::Mesh, "", false, "model/gltf-binary"},
    {".gltf", OutputKind::Mesh, ".bin", false, "model/gltf+json"},
    {".stl", OutputKind::Mesh, "", false, "model/stl"},
    {".ply", OutputKind::Mesh, "", false, "application/octet-stream"},
    {".pdf", OutputKind::Pattern, "", false, "application/pdf"},
    {".svg", OutputKind::Pattern, "", true, "image/svg+xml"},
    {".png", OutputKind::Pattern, "", true, "image/png"},
};

/// The format of this extension (".pdf", any case), or null.
const OutputFormat* formatOfExtension(std::string_view extension);
/// The format a file of this name is written in, by its extension, or null.
const OutputFormat* formatOfPath(const std::string& path);
/// What a file of this name holds; Unknown for an extension no row has.
OutputKind outputKind(const std::string& path);

}  // namespace job
