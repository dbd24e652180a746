#include "job/bundle.h"

#include <minizip/zip.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "formats/mesh_io.h"
#include "formats/scene_json.h"

namespace job {

namespace fs = std::filesystem;

namespace {

bool readFile(const fs::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return static_cast<bool>(in) || in.eof();
}

/// Names of the images in the archive: their own file names, numbered where two differ.
class ArchiveNames {
 public:
  std::string nameFor(const fs::path& source) {
    const std::string key = source.lexically_normal().string();
    if (auto it = bySource_.find(key); it != bySource_.end()) return it->second;
    std::string name = source.filename().string();
    for (int n = 2; taken_.count(name); ++n) name = std::to_string(n) + "-" + source.filename().string();
    taken_.insert(name);
    bySource_[key] = name;
    return name;
  }

 private:
  std::map<std::string, std::string> bySource_;
  std::set<std::string> taken_;
};

/// One archive entry, with a fixed date so that the same files give the same archive.
bool addEntry(zipFile zip, const std::string& name, const std::string& content, bool compress) {
  zip_fileinfo info{};
  info.tmz_date.tm_year = 1980;
  info.tmz_date.tm_mday = 1;
  if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, compress ? Z_DEFLATED : 0,
                            compress ? Z_DEFAULT_COMPRESSION : 0, content.size() >= 0xffffffffu ? 1 : 0) != ZIP_OK) {
    return false;
  }
  const bool written = zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())) == ZIP_OK;
  return zipCloseFileInZip(zip) == ZIP_OK && written;
}

}  // namespace

bool writeMeshZip(const scene::Document& document, const std::string& textureFolder, const std::string& stem,
                  const std::string& work, const std::string& path, std::string* error) {
  const fs::path obj = fs::path(work) / (stem + ".obj");
  const fs::path mtl = fs::path(work) / (stem + ".mtl");
  std::vector<const scene::Object*> objects;
  for (const scene::Object* o : document.allObjects()) objects.push_back(o);
  if (!formats::exportMesh(document, objects, obj.string(), error)) return false;

  std::string objText, mtlText;
  if (!readFile(obj, &objText)) {
    *error = obj.string() + ": cannot read what was written";
    return false;
  }
  const bool hasMtl = readFile(mtl, &mtlText);
  // The MTL names images as the document holds them (paths of this machine): each becomes the
  // name of its copy in the archive, and an image that cannot be read loses its reference.
  std::vector<std::pair<std::string, std::string>> images;  // name in the archive, content
  ArchiveNames names;
  std::istringstream lines(mtlText);
  std::string line, rewritten;
  while (std::getline(lines, line)) {
    const auto start = line.find_first_not_of(" \t");
    const std::string keyword = start == std::string::npos ? "" : line.substr(start, line.find_first_of(" \t", start) - start);
    if (keyword.rfind("map_", 0) == 0 || keyword == "bump" || keyword == "disp" || keyword == "norm") {
      const auto at = line.find_first_not_of(" \t", start + keyword.size());
      if (at != std::string::npos) {
        fs::path source = line.substr(at);
        while (!source.empty() && (source.string().back() == '\r' || source.string().back() == ' ')) {
          source = source.string().substr(0, source.string().size() - 1);
        }
        if (source.is_relative()) source = fs::path(textureFolder) / source;
        std::string content;
        if (!readFile(source, &content) || content.empty()) continue;
        const std::string name = names.nameFor(source);
        if (std::none_of(images.begin(), images.end(), [&](const auto& i) { return i.first == name; })) {
          images.emplace_back(name, std::move(content));
        }
        rewritten += keyword + " " + name + "\n";
        continue;
      }
    }
    rewritten += line + "\n";
  }

  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    *error = path + ": cannot write the archive";
    return false;
  }
  bool ok = addEntry(zip, stem + ".obj", objText, true);
  if (hasMtl) ok = ok && addEntry(zip, stem + ".mtl", rewritten, true);
  for (const auto& [name, content] : images) ok = ok && addEntry(zip, name, content, false);
  ok = zipClose(zip, nullptr) == ZIP_OK && ok;
  if (!ok) {
    std::error_code ec;
    fs::remove(path, ec);
    *error = path + ": cannot write the archive";
  }
  return ok;
}

bool writeSceneAlone(const scene::Document& document, const std::string& path, std::string* error) {
  if (!formats::saveScene(document, path, error)) return false;
  std::string text;
  if (!readFile(path, &text)) {
    *error = path + ": cannot read what was written";
    return false;
  }
  // Each texture is written as a JSON string; the same string with the file name alone takes
  // its place wherever it stands.
  bool changed = false;
  for (const auto& m : document.materials()) {
    if (m->texture.empty()) continue;
    const std::string name = fs::path(m->texture).filename().string();
    if (name == m->texture) continue;
    const std::string from = nlohmann::json(m->texture).dump(), to = nlohmann::json(name).dump();
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
      changed = true;
    }
  }
  if (!changed) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) {
    *error = path + ": cannot write the scene";
    return false;
  }
  return true;
}

}  // namespace job
