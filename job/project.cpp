#include "job/project.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "formats/files.h"
#include "formats/scene_json.h"
#include "host/edge_marks.h"
#include "job/archive.h"

namespace job {

namespace fs = std::filesystem;
using json = nlohmann::json;
using ordered = nlohmann::ordered_json;

namespace {

constexpr const char* kProjectEntry = "project.json";
constexpr const char* kModelEntry = "model.json";
/// project.json holds a few settings and a line per object: a larger one is not ours.
constexpr std::uint64_t kLargestProjectEntry = 64ull << 20;
/// The model and each image: far beyond what a paper model needs, well within memory.
constexpr std::uint64_t kLargestEntry = 2ull << 30;

const char* const kLayoutNames[] = {"row", "animation", "stack"};

std::string lowerExtension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

std::uint32_t crcOf(const std::string& bytes) {
  const uLong start = crc32_z(0L, Z_NULL, 0);
  return static_cast<std::uint32_t>(
      crc32_z(start, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<z_size_t>(bytes.size())));
}

/// Every setting with its key, in the order project.json lists them; `visit` is called as
/// visit(key, field) for each field of `settings`.
template <typename Visit>
void eachSetting(Settings& s, Visit&& visit) {
  visit("layout", s.layout);
  visit("keepOriginals", s.keepOriginals);
  visit("materials", s.materials);
  visit("pageLimit", s.pageLimit);
  visit("pageWidth", s.pageWidth);
  visit("pageHeight", s.pageHeight);
  visit("margin", s.margin);
  visit("unfold", s.unfold);
  visit("tabs", s.tabs);
  visit("tabDepth", s.tabDepth);
  visit("foldShut", s.foldShut);
  visit("bareSeams", s.bareSeams);
  visit("scale", s.scale);
  visit("height", s.height);
  visit("largestSize", s.largestSize);
  visit("fitSheets", s.fitSheets);
  visit("dpi", s.dpi);
  visit("flatFold", s.flatFold);
  visit("fill", s.fill);
  visit("labelSize", s.labelSize);
  visit("overview", s.overview);
  visit("dialogPageWidth", s.dialogPageWidth);
  visit("dialogPageHeight", s.dialogPageHeight);
  visit("dialogTabWidth", s.dialogTabWidth);
  visit("dialogFoldShut", s.dialogFoldShut);
}

/// Writes each setting under its key; an unset optional is left out.
struct SettingWriter {
  ordered& out;
  void operator()(const char* key, Layout& v) const { out[key] = kLayoutNames[static_cast<int>(v)]; }
  void operator()(const char* key, Unfold& v) const { out[key] = std::string(method(v).name); }
  void operator()(const char* key, bool& v) const { out[key] = v; }
  void operator()(const char* key, int& v) const { out[key] = v; }
  void operator()(const char* key, double& v) const { out[key] = v; }
  template <typename T>
  void operator()(const char* key, std::optional<T>& v) const {
    if (v) (*this)(key, *v);
  }
};

/// What is wrong with a project, as the one line the reader says (the file's name comes first).
struct Refusal {
  std::string message;
};

/// Reads each setting from its key, refusing a value of the wrong kind; an optional whose key
/// is absent stays unset, every other key must be there.
struct SettingReader {
  const json& in;
  std::set<std::string>* known;

  const json& need(const char* key) const {
    known->insert(key);
    if (!in.contains(key)) throw Refusal{": the setting \"" + std::string(key) + "\" is missing"};
    return in[key];
  }
  static Refusal wrong(const char* key, const std::string& expected) {
    return Refusal{": the setting \"" + std::string(key) + "\" is not " + expected};
  }
  void operator()(const char* key, Layout& v) const {
    const json& j = need(key);
    for (int i = 0; i < 3; ++i) {
      if (j.is_string() && j.get<std::string>() == kLayoutNames[i]) {
        v = static_cast<Layout>(i);
        return;
      }
    }
    throw wrong(key, "row, animation or stack");
  }
  void operator()(const char* key, Unfold& v) const {
    const json& j = need(key);
    const Method* m = j.is_string() ? methodNamed(j.get<std::string>()) : nullptr;
    if (!m) {
      std::string names;
      for (const Method& each : kMethods) names += (names.empty() ? "" : " or ") + std::string(each.name);
      throw wrong(key, names);
    }
    v = m->unfold;
  }
  void operator()(const char* key, bool& v) const {
    const json& j = need(key);
    if (!j.is_boolean()) throw wrong(key, "true or false");
    v = j.get<bool>();
  }
  void operator()(const char* key, int& v) const {
    const json& j = need(key);
    if (!j.is_number_integer() || j.get<std::int64_t>() < std::numeric_limits<int>::min() ||
        j.get<std::int64_t>() > std::numeric_limits<int>::max()) {
      throw wrong(key, "a whole number");
    }
    v = static_cast<int>(j.get<std::int64_t>());
  }
  void operator()(const char* key, double& v) const {
    const json& j = need(key);
    if (!j.is_number() || !std::isfinite(j.get<double>())) throw wrong(key, "a finite number");
    v = j.get<double>();
  }
  template <typename T>
  void operator()(const char* key, std::optional<T>& v) const {
    known->insert(key);
    if (!in.contains(key)) {
      v.reset();
      return;
    }
    T value{};
    (*this)(key, value);
    v = value;
  }
};

/// The objects of a model as project.json lists them, in hierarchy order.
ordered objectList(const scene::Document& model) {
  ordered list = ordered::array();
  for (const scene::Object* o : model.allObjects()) {
    ordered entry;
    entry["name"] = o->name;
    entry["polygons"] = o->polygons.size();
    entry["points"] = o->points.size();
    list.push_back(std::move(entry));
  }
  return list;
}

/// True when the model has the objects of the list, in its order.
bool sameObjects(const scene::Document& model, const json& list) {
  const std::vector<scene::Object*> objects = model.allObjects();
  if (list.size() != objects.size()) return false;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const json& e = list[i];
    const auto count = [&](const char* key, std::size_t n) {
      return e.contains(key) && e[key].is_number_unsigned() && e[key].get<std::uint64_t>() == n;
    };
    if (!e.is_object() || !e.contains("name") || e["name"] != objects[i]->name ||
        !count("polygons", objects[i]->polygons.size()) || !count("points", objects[i]->points.size())) {
      return false;
    }
  }
  return true;
}

/// What is wrong with the model's edge marks, after the file's name ("" when nothing is): a mark
/// on an edge the object does not have would fall nowhere, or on other edges in a host that
/// numbers them otherwise.
std::string markProblem(const scene::Document& model) {
  for (const scene::Object* o : model.allObjects()) {
    for (const auto& tag : o->tags) {
      if (tag->type != sdk::kTagEdgeSelection) continue;
      if (tag->name != foldra::kEdgesCut && tag->name != foldra::kEdgesFold && tag->name != foldra::kEdgesTab &&
          tag->name != foldra::kEdgesNoTab) {
        continue;
      }
      for (const std::int32_t edge : tag->selection.indices()) {
        if (static_cast<std::size_t>(edge / 4) < o->polygons.size()) continue;
        return ": \"" + tag->name + "\" marks edge " + std::to_string(edge) + " of object \"" + o->name +
               "\", which has only " + std::to_string(o->polygons.size()) + " polygon" +
               (o->polygons.size() == 1 ? "" : "s");
      }
    }
  }
  return "";
}

/// A project's archive, read entry by entry.
class Archive {
 public:
  explicit Archive(const std::string& path) : zip_(unzOpen64(path.c_str())) {}
  ~Archive() {
    if (zip_) unzClose(zip_);
  }
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  bool opened() const { return zip_ != nullptr; }

  enum class Read { Ok, Missing, TooLarge, Corrupt };
  /// The content of the entry of this name, read whole and checked against its CRC.
  Read read(const std::string& name, std::uint64_t largest, std::string* out) {
    if (unzLocateFile(zip_, name.c_str(), 1) != UNZ_OK) return Read::Missing;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return Read::Corrupt;
    if (info.uncompressed_size > largest) return Read::TooLarge;
    if (unzOpenCurrentFile(zip_) != UNZ_OK) return Read::Corrupt;
    out->assign(static_cast<std::size_t>(info.uncompressed_size), '\0');
    std::size_t done = 0;
    bool ok = true;
    while (done < out->size()) {
      const std::size_t chunk = std::min<std::size_t>(out->size() - done, 1u << 30);
      const int n = unzReadCurrentFile(zip_, out->data() + done, static_cast<unsigned>(chunk));
      if (n <= 0) {
        ok = false;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    // Past the size it announced an entry gives nothing more, and its CRC is checked on closing.
    char extra = 0;
    if (ok && unzReadCurrentFile(zip_, &extra, 1) != 0) ok = false;
    const bool closed = unzCloseCurrentFile(zip_) == UNZ_OK;
    return ok && closed ? Read::Ok : Read::Corrupt;
  }

 private:
  unzFile zip_;
};

/// A texture name as model.json holds it: the name of an entry beside it, no folder.
bool plainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

/// What readProject does, throwing a Refusal; the images it extracted are listed in *extracted.
void readInto(const std::string& path, const std::string& work, Project* project, std::vector<fs::path>* extracted) {
  std::error_code ec;
  if (!fs::exists(path, ec)) throw Refusal{": no such file"};
  if (!fs::is_regular_file(path, ec)) throw Refusal{": not a file"};
  const Refusal notOurs{" is not a Foldra project"};
  {
    // A ZIP archive starts with a local file header (or, empty, with its end record).
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    const bool entry = magic[2] == 3 && magic[3] == 4, empty = magic[2] == 5 && magic[3] == 6;
    if (in.gcount() != 4 || magic[0] != 'P' || magic[1] != 'K' || !(entry || empty)) {
      throw notOurs;
    }
  }
  Archive archive(path);
  if (!archive.opened()) throw Refusal{": the archive is truncated or corrupt"};
  const auto entry = [&](const char* name, std::uint64_t largest, bool ours) {
    std::string content;
    switch (archive.read(name, largest, &content)) {
      case Archive::Read::Ok: return content;
      case Archive::Read::Missing:
        if (ours) throw notOurs;
        throw Refusal{": the archive has no " + std::string(name)};
      case Archive::Read::TooLarge: throw Refusal{": " + std::string(name) + " is larger than a project holds"};
      case Archive::Read::Corrupt: break;
    }
    throw Refusal{": the archive is truncated or corrupt (" + std::string(name) + " does not read back whole)"};
  };

  const json head = json::parse(entry(kProjectEntry, kLargestProjectEntry, true), nullptr, false);
  if (!head.is_object() || !head.contains("format") || head["format"] != kProjectFormat) throw notOurs;
  if (!head.contains("version") || !head["version"].is_number_integer()) throw Refusal{": the project has no version"};
  if (head["version"].get<std::int64_t>() != kProjectVersion) {
    throw Refusal{" is a project of version " + std::to_string(head["version"].get<std::int64_t>()) +
                  "; this Foldra reads version " + std::to_string(kProjectVersion)};
  }
  const auto member = [&](const json& in, const char* key, const char* where) -> const json& {
    if (!in.is_object() || !in.contains(key)) throw Refusal{": the project has no " + std::string(where)};
    return in[key];
  };
  const json& model = member(head, "model", "model");
  const json& name = member(model, "name", "model name");
  const json& crc = member(model, "crc32", "checksum of its model");
  const json& objects = member(model, "objects", "list of its model's objects");
  if (!name.is_string()) throw Refusal{": the model's name is not text"};
  if (!crc.is_number_unsigned() || crc.get<std::uint64_t>() > 0xffffffffu) {
    throw Refusal{": the model's checksum is not a CRC-32"};
  }
  if (!objects.is_array()) throw Refusal{": the model's objects are not a list"};

  ProjectRun run;
  run.modelName = name.get<std::string>();
  const json& settings = member(head, "settings", "settings");
  if (!settings.is_object()) throw Refusal{": the settings are not an object"};
  std::set<std::string> known;
  eachSetting(run.settings, SettingReader{settings, &known});
  for (const auto& [key, value] : settings.items()) {
    if (!known.count(key)) throw Refusal{": \"" + key + "\" is not a setting this Foldra knows"};
  }
  if (const std::string problem = settingsProblem(run.settings); !problem.empty()) {
    throw Refusal{": the setting " + problem};
  }
  const json& scale = member(head, "scale", "scale");
  if (!scale.is_number() || !std::isfinite(scale.get<double>()) || !(scale.get<double>() > 0)) {
    throw Refusal{": the scale is not a number greater than 0"};
  }
  run.scale = scale.get<double>();
  if (head.contains("placements")) {
    const json& placed = head["placements"];
    if (!placed.is_array()) throw Refusal{": the pieces placed by hand are not a list"};
    for (const json& p : placed) {
      const auto number = [&](const char* key) {
        if (!p.is_object() || !p.contains(key) || !p[key].is_number() || !std::isfinite(p[key].get<double>())) {
          throw Refusal{": a piece placed by hand has no " + std::string(key)};
        }
        return p[key].get<double>();
      };
      pattern::Position at;
      const double piece = number("piece"), sheet = number("sheet");
      if (piece < 0 || piece > 1e9 || sheet < 0 || sheet > 1e6 || piece != std::floor(piece) || sheet != std::floor(sheet)) {
        throw Refusal{": a piece placed by hand names no piece or sheet"};
      }
      at.piece = static_cast<int>(piece);
      at.sheet = static_cast<int>(sheet);
      at.rotation = number("rotation");
      at.offset = {number("x"), number("y")};
      if (std::fabs(at.offset.x) > 1e7 || std::fabs(at.offset.y) > 1e7) throw Refusal{": a piece placed by hand lies far off its sheet"};
      run.placements.push_back(at);
    }
  }
  if (head.contains("studio")) {
    if (!head["studio"].is_object()) throw Refusal{": the studio's form is not an object"};
    run.studio = head["studio"];
  }
  const json& entries = member(head, "entries", "dialog entries");
  if (!entries.is_number_unsigned() || (entries.get<std::uint64_t>() & ~std::uint64_t{kAllEntries}) != 0) {
    throw Refusal{": the dialog entries are not ones this Foldra makes"};
  }
  run.entries = static_cast<unsigned>(entries.get<std::uint64_t>());

  // The model: exactly the bytes that were saved, with the objects the project lists.
  const std::string text = entry(kModelEntry, kLargestEntry, false);
  const Refusal changed{": its model was changed after the project was saved: its edits would fall on other edges"};
  if (crcOf(text) != crc.get<std::uint64_t>()) throw changed;
  std::string problem;
  std::unique_ptr<scene::Document> document = formats::sceneFromJson(text, &problem);
  if (!document) throw Refusal{": " + std::string(kModelEntry) + ": " + problem};
  if (!sameObjects(*document, objects)) throw changed;

  if (const std::string marks = markProblem(*document); !marks.empty()) throw Refusal{marks};

  // The images, each once, into the work folder; a name the archive does not hold was missing
  // when the project was saved.
  std::set<std::string> taken;
  for (const auto& m : document->materials()) {
    if (m->texture.empty() || taken.count(m->texture)) continue;
    if (!plainName(m->texture)) {
      throw Refusal{": the material \"" + m->name + "\" names a texture outside the project (" + m->texture + ")"};
    }
    taken.insert(m->texture);
    std::string image;
    switch (archive.read(m->texture, kLargestEntry, &image)) {
      case Archive::Read::Ok: break;
      case Archive::Read::Missing: continue;
      case Archive::Read::TooLarge: throw Refusal{": " + m->texture + " is larger than a project holds"};
      case Archive::Read::Corrupt:
        throw Refusal{": the archive is truncated or corrupt (" + m->texture + " does not read back whole)"};
    }
    const fs::path target = fs::path(work) / m->texture;
    extracted->push_back(target);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) throw Refusal{": " + m->texture + " cannot be extracted into " + work};
  }

  project->model = std::move(document);
  project->textureFolder = work;
  project->run = std::move(run);
}

}  // namespace

bool isProjectFile(const std::string& path) { return lowerExtension(path) == kProjectExtension; }

bool writeProject(const scene::Document& model, const std::string& textureFolder, const ProjectRun& run,
                  const std::string& path, std::string* error) {
  if (const std::string problem = settingsProblem(run.settings); !problem.empty()) {
    *error = path + ": the setting " + problem;
    return false;
  }
  if (!std::isfinite(run.scale) || !(run.scale > 0)) {
    *error = path + ": the scale " + typed(run.scale) + " is not a number greater than 0";
    return false;
  }
  if ((run.entries & ~kAllEntries) != 0) {
    *error = path + ": dialog entries that the module's dialog does not have";
    return false;
  }
  // A project that could not be read back is not written.
  if (const std::string marks = markProblem(model); !marks.empty()) {
    *error = path + marks;
    return false;
  }
  // Every texture takes the name of its image in the archive, so that the project names no
  // folder of this machine and two images of one file name in different folders stay apart.
  auto copy = scene::cloneDocument(model);
  ArchiveNames names({kProjectEntry, kModelEntry});
  std::vector<std::pair<std::string, std::string>> images;  // name in the archive, content
  for (const auto& m : copy->materials()) {
    if (m->texture.empty()) continue;
    fs::path source = m->texture;
    if (source.is_relative()) source = fs::path(textureFolder) / source;
    m->texture = names.nameFor(source);
    if (std::any_of(images.begin(), images.end(), [&](const auto& i) { return i.first == m->texture; })) continue;
    std::string content;
    if (readFile(source, &content) && !content.empty()) images.emplace_back(m->texture, std::move(content));
  }

  // The model is written as a scene file first: the writer refuses a number that is not finite.
  formats::StagedFiles scratch;
  const std::string modelFile = scratch.stage(path + "-model.json");
  std::string text;
  if (!formats::saveScene(*copy, modelFile, error)) {
    const auto at = error->find(modelFile);
    if (at != std::string::npos) error->replace(at, modelFile.size(), path);
    return false;
  }
  if (!readFile(modelFile, &text)) {
    *error = path + ": cannot read the model back";
    return false;
  }
  // The objects as the reader will see them: names that are not UTF-8 were written with U+FFFD.
  std::string problem;
  const std::unique_ptr<scene::Document> back = formats::sceneFromJson(text, &problem);
  if (!back) {
    *error = path + ": the model does not read back (" + problem + ")";
    return false;
  }

  ordered about;
  about["name"] = run.modelName;
  about["crc32"] = crcOf(text);
  about["objects"] = objectList(*back);
  Settings settings = run.settings;
  ordered written = ordered::object();
  eachSetting(settings, SettingWriter{written});
  ordered head;
  head["format"] = kProjectFormat;
  head["version"] = kProjectVersion;
  head["model"] = std::move(about);
  head["settings"] = std::move(written);
  head["scale"] = run.scale;
  head["entries"] = run.entries;
  if (!run.placements.empty()) {
    ordered placed = ordered::array();
    for (const pattern::Position& p : run.placements) {
      placed.push_back({{"piece", p.piece}, {"sheet", p.sheet}, {"rotation", p.rotation}, {"x", p.offset.x}, {"y", p.offset.y}});
    }
    head["placements"] = std::move(placed);
  }
  if (run.studio.is_object()) head["studio"] = ordered::parse(run.studio.dump());
  const std::string headText = head.dump(2, ' ', false, ordered::error_handler_t::replace) + "\n";

  formats::StagedFiles staged;
  const std::string temporary = staged.stage(path);
  zipFile zip = zipOpen64(temporary.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    *error = path + ": cannot be written";
    return false;
  }
  bool ok = addArchiveEntry(zip, kProjectEntry, headText, true);
  ok = ok && addArchiveEntry(zip, kModelEntry, text, true);
  // Images are compressed already.
  for (const auto& [name, content] : images) ok = ok && addArchiveEntry(zip, name, content, false);
  ok = zipClose(zip, nullptr) == ZIP_OK && ok;
  if (!ok) {
    *error = path + ": cannot be written";
    return false;
  }
  return staged.commit(error);
}

bool readProject(const std::string& path, const std::string& work, Project* project, std::string* error) {
  std::vector<fs::path> extracted;
  Project read;
  try {
    readInto(path, work, &read, &extracted);
  } catch (const Refusal& refusal) {
    for (const fs::path& file : extracted) {
      std::error_code ec;
      fs::remove(file, ec);
    }
    *error = path + refusal.message;
    return false;
  }
  *project = std::move(read);
  return true;
}

}  // namespace job
