// Writing the pattern: the pages drawn once, then written into every path in the format its
// extension names (the table of formats below), staged and moved in when all are complete.
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/files.h"
#include "pattern/drawing.h"
#include "pattern/sheet.h"
#include "pattern/texture.h"

namespace pattern {

namespace {

namespace fs = std::filesystem;
using detail::Drawing;
using detail::Page;

std::string lowercase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// NAME.svg -> NAME-1.svg, NAME-2.svg, ...
std::string sheetPath(const std::string& path, int sheet) {
  const fs::path p(path);
  return (p.parent_path() / (p.stem().string() + "-" + std::to_string(sheet + 1) + p.extension().string())).string();
}

std::string overviewPath(const std::string& path) {
  const fs::path p(path);
  return (p.parent_path() / (p.stem().string() + "-overview" + p.extension().string())).string();
}

// The pages in the order a document shows them: the overview first.
std::vector<const Page*> inOrder(const Drawing& drawing) {
  std::vector<const Page*> pages;
  if (drawing.overview >= 0) pages.push_back(&drawing.pages[drawing.overview]);
  for (size_t i = 0; i < drawing.pages.size(); ++i) {
    if (static_cast<int>(i) != drawing.overview) pages.push_back(&drawing.pages[i]);
  }
  return pages;
}

// The text in the staged file of `path`.
bool writeText(const std::string& path, const std::string& text, formats::StagedFiles* staged, std::string* error) {
  std::ofstream out(staged->stage(path), std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

// Each format's writer takes the drawing and the files the path becomes (filesOf): one for a
// document of all pages, else one per page in the order inOrder gives.

/// Reports page `done` of `pages` written in the format named `format`, where progress is asked for.
void tellPage(const PatternOptions& options, const char* format, int done, int pages) {
  if (options.progress && pages > 0) options.progress(std::string("Writing the ") + format, 100 * done / pages);
}

bool writePdf(const Drawing& drawing, const PatternOptions& options, const std::vector<std::string>& paths,
              formats::StagedFiles* staged, std::string* error) {
  const auto pageDone = [&](int done, int pages) { tellPage(options, "PDF", done, pages); };
  return writeText(paths[0], detail::pdfDocument(drawing, inOrder(drawing), pageDone), staged, error);
}

bool writeSvg(const Drawing& drawing, const PatternOptions& options, const std::vector<std::string>& paths,
              formats::StagedFiles* staged, std::string* error) {
  const std::vector<const Page*> pages = inOrder(drawing);
  for (size_t i = 0; i < pages.size(); ++i) {
    tellPage(options, "SVG sheets", static_cast<int>(i), static_cast<int>(pages.size()));
    if (!writeText(paths[i], detail::svgPage(drawing, *pages[i]), staged, error)) return false;
  }
  return true;
}

bool writePng(const Drawing& drawing, const PatternOptions& options, const std::vector<std::string>& paths,
              formats::StagedFiles* staged, std::string* error) {
  long width = 0, height = 0;
  if (!detail::pngSize(options, &width, &height, error)) return false;
  const std::vector<const Page*> pages = inOrder(drawing);
  for (size_t i = 0; i < pages.size(); ++i) {
    tellPage(options, "PNG sheets", static_cast<int>(i), static_cast<int>(pages.size()));
    std::string png, problem;
    if (!detail::pngPage(drawing, *pages[i], options, &png, &problem)) {
      *error = paths[i] + ": cannot be written (" + problem + ")";
      return false;
    }
    if (!writeText(paths[i], png, staged, error)) return false;
  }
  return true;
}

bool pngFits(const PatternOptions& options, std::string* error) {
  long width = 0, height = 0;
  return detail::pngSize(options, &width, &height, error);
}

/// A format of the pattern and how it is written. Another format is one more row here, with its
/// writer above.
struct FormatWriter {
  PatternFormat format;
  bool (*write)(const Drawing& drawing, const PatternOptions& options, const std::vector<std::string>& files,
                formats::StagedFiles* staged, std::string* error);
  /// What keeps the options from being written in this format, tested before anything is drawn;
  /// null where nothing does.
  bool (*fits)(const PatternOptions& options, std::string* error);
};

const std::vector<FormatWriter>& formatWriters() {
  static const std::vector<FormatWriter> writers{
      {{".pdf", false}, writePdf, nullptr},
      {{".svg", true}, writeSvg, nullptr},
      {{".png", true}, writePng, pngFits},
  };
  return writers;
}

const FormatWriter* writerOf(const std::string& path) {
  const std::string extension = lowercase(fs::path(path).extension().string());
  for (const FormatWriter& writer : formatWriters()) {
    if (writer.format.extension == extension) return &writer;
  }
  return nullptr;
}

// ".pdf, .svg or .png"
std::string extensionList() {
  const std::vector<FormatWriter>& writers = formatWriters();
  std::string list;
  for (size_t i = 0; i < writers.size(); ++i) {
    if (i > 0) list += i + 1 == writers.size() ? " or " : ", ";
    list += writers[i].format.extension;
  }
  return list;
}

bool unknownType(const std::string& path, std::string* error) {
  *error = path + ": unknown file type; the pattern can be written as " + extensionList();
  return false;
}

// The files one path becomes: the path itself for a document of all pages, or one per page
// (the overview first, named NAME-overview).
std::vector<std::string> filesOf(const std::string& path, const PatternFormat& format, const Drawing& drawing) {
  if (!format.filePerPage) return {path};
  std::vector<std::string> files;
  if (drawing.overview >= 0) files.push_back(overviewPath(path));
  const int sheets = static_cast<int>(drawing.pages.size()) - (drawing.overview >= 0 ? 1 : 0);
  for (int sheet = 0; sheet < sheets; ++sheet) files.push_back(sheetPath(path, sheet));
  return files;
}

}  // namespace

DrawnPattern::DrawnPattern() = default;
DrawnPattern::~DrawnPattern() = default;

// A pattern without pieces is an error rather than an empty sheet: there is nothing to print,
// and an existing file of that name is better left as it was.
namespace {

bool drawable(const PatternInput& input, const PatternOptions& options, const Packing& packing, std::string* error) {
  if (std::string problem = detail::invalidValue(input, options); !problem.empty()) {
    *error = problem;
    return false;
  }
  if (input.pieces.empty()) {
    *error = "the pattern has no pieces: there is nothing to print";
    return false;
  }
  if (packing.positions.size() != input.pieces.size() || packing.numbers.size() != input.pieces.size()) {
    *error = packing.warnings.empty() ? "the packing does not belong to these pieces" : packing.warnings.front();
    return false;
  }
  return true;
}

}  // namespace

bool drawPattern(const PatternInput& input, const PatternOptions& options, const Packing& packing, DrawnPattern* drawn,
                 std::string* error) {
  std::string ignoredError;
  if (!error) error = &ignoredError;
  if (!drawable(input, options, packing, error)) return false;
  auto drawing = std::make_unique<Drawing>();
  drawing->width = options.pageWidth;
  drawing->height = options.pageHeight;
  drawing->warnings = packing.warnings;
  const detail::Textures textures(options.fill ? input.materials : std::vector<Material>{}, &drawing->warnings);
  for (size_t m = 0; m < input.materials.size(); ++m) {
    cairo_surface_t* image = textures[static_cast<int>(m)];
    drawing->images.push_back(image ? cairo_surface_reference(image) : nullptr);
  }
  try {
    detail::drawSheets(input, options, packing, textures, drawing.get());
    if (options.overview) detail::drawOverview(input, options, packing, drawing.get());
  } catch (const std::exception& e) {
    // The font could not be loaded: nothing can be measured or drawn.
    *error = e.what();
    return false;
  }
  drawn->drawing_ = std::move(drawing);
  drawn->packing_ = packing;
  return true;
}

bool writeDrawn(const DrawnPattern& drawn, const PatternOptions& options, const std::vector<std::string>& paths,
                PatternReport* report, std::string* error) {
  std::string ignoredError;
  if (!error) error = &ignoredError;
  if (!drawn.drawing_) {
    *error = "the pattern has not been drawn";
    return false;
  }
  const Drawing& drawing = *drawn.drawing_;
  std::vector<const FormatWriter*> writers;
  for (const std::string& path : paths) {
    writers.push_back(writerOf(path));
    if (!writers.back()) return unknownType(path, error);
  }
  for (const FormatWriter* writer : writers) {
    if (writer->fits && !writer->fits(options, error)) return false;
  }
  std::vector<std::vector<std::string>> files;
  for (size_t i = 0; i < paths.size(); ++i) {
    files.push_back(filesOf(paths[i], writers[i]->format, drawing));
    for (const std::string& file : files.back()) {
      std::error_code ec;
      if (fs::is_directory(file, ec)) {
        *error = file + ": cannot be written, it is a folder";
        return false;
      }
    }
  }
  formats::StagedFiles staged;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!writers[i]->write(drawing, options, files[i], &staged, error)) return false;
  }
  if (!staged.commit(error)) return false;
  if (report) {
    report->packing = drawn.packing_;
    report->files.clear();
    for (const auto& list : files) report->files.insert(report->files.end(), list.begin(), list.end());
    report->byPath = files;
    report->overview = drawing.overview >= 0;
    report->warnings = drawing.warnings;
  }
  return true;
}

bool writePattern(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                  const std::vector<std::string>& paths, PatternReport* report, std::string* error) {
  std::string ignoredError;
  if (!error) error = &ignoredError;
  // What no drawing can mend is told before anything is drawn.
  std::vector<const FormatWriter*> writers;
  for (const std::string& path : paths) {
    writers.push_back(writerOf(path));
    if (!writers.back()) return unknownType(path, error);
  }
  if (!drawable(input, options, packing, error)) return false;
  for (const FormatWriter* writer : writers) {
    if (writer->fits && !writer->fits(options, error)) return false;
  }
  DrawnPattern drawn;
  return drawPattern(input, options, packing, &drawn, error) && writeDrawn(drawn, options, paths, report, error);
}

bool writePattern(const PatternInput& input, const PatternOptions& options, const std::string& path,
                  PatternReport* report, std::string* error) {
  std::string ignoredError;
  if (!error) error = &ignoredError;
  if (!writerOf(path)) return unknownType(path, error);
  if (std::string problem = detail::invalidValue(input, options); !problem.empty()) {
    *error = problem;
    return false;
  }
  return writePattern(input, options, packPattern(input, options), {path}, report, error);
}

const std::vector<PatternFormat>& patternFormats() {
  static const std::vector<PatternFormat> formats = [] {
    std::vector<PatternFormat> list;
    for (const FormatWriter& writer : formatWriters()) list.push_back(writer.format);
    return list;
  }();
  return formats;
}

const PatternFormat* patternFormatOf(const std::string& path) {
  const FormatWriter* writer = writerOf(path);
  return writer ? &patternFormats()[static_cast<size_t>(writer - formatWriters().data())] : nullptr;
}

}  // namespace pattern
