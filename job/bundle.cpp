#include "job/bundle.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formats/mesh_io.h"
#include "formats/scene_json.h"
#include "job/archive.h"

namespace job {

namespace fs = std::filesystem;

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
  bool ok = addArchiveEntry(zip, stem + ".obj", objText, true);
  if (hasMtl) ok = ok && addArchiveEntry(zip, stem + ".mtl", rewritten, true);
  for (const auto& [name, content] : images) ok = ok && addArchiveEntry(zip, name, content, false);
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
