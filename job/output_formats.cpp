#include "job/output_formats.h"

#include <cctype>
#include <filesystem>

namespace job {

const OutputFormat* formatOfExtension(std::string_view extension) {
  std::string lower(extension);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const OutputFormat& f : kOutputFormats) {
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
