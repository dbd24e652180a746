#include "runtime/resources.h"

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace runtime {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool readJson(const fs::path& path, json* out, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path.string() + ": cannot be read";
    return false;
  }
  try {
    *out = json::parse(in);
  } catch (const json::exception& e) {
    *error = path.string() + ": not valid JSON (" + e.what() + ")";
    return false;
  }
  return true;
}

std::int32_t parseId(const std::string& text, bool* ok) {
  try {
    std::size_t used = 0;
    const long value = std::stol(text, &used);
    *ok = used == text.size() && value >= INT32_MIN && value <= INT32_MAX;
    return static_cast<std::int32_t>(value);
  } catch (const std::exception&) {
    *ok = false;
    return 0;
  }
}

bool readDialog(const fs::path& path, DialogDescription* dialog, std::string* error) {
  json j;
  if (!readJson(path, &j, error)) return false;
  try {
    dialog->id = j.at("id").get<std::int32_t>();
    dialog->title = j.value("title", "");
    for (const json& g : j.at("gadgets")) {
      GadgetDescription gadget;
      gadget.id = g.at("id").get<std::int32_t>();
      gadget.label = g.value("label", "");
      const std::string kind = g.at("kind").get<std::string>();
      if (kind == "check") gadget.kind = GadgetDescription::Kind::Check;
      else if (kind == "choice") gadget.kind = GadgetDescription::Kind::Choice;
      else if (kind == "text") gadget.kind = GadgetDescription::Kind::Text;
      else if (kind == "integer") gadget.kind = GadgetDescription::Kind::Integer;
      else if (kind == "button") gadget.kind = GadgetDescription::Kind::Button;
      else {
        *error = path.string() + ": gadget " + std::to_string(gadget.id) + " has unknown kind \"" + kind + "\"";
        return false;
      }
      if (g.contains("entries")) {
        for (const json& e : g.at("entries")) {
          gadget.entries.emplace_back(e.at("value").get<std::int32_t>(), e.value("label", ""));
        }
      }
      dialog->gadgets.push_back(std::move(gadget));
    }
  } catch (const json::exception& e) {
    *error = path.string() + ": not a dialog description (" + e.what() + ")";
    return false;
  }
  return true;
}

}  // namespace

bool loadResources(const std::string& moduleFolder, Resources* resources, std::string* error) {
  const fs::path res = fs::path(moduleFolder) / "res";
  std::error_code ec;
  if (!fs::is_directory(res, ec)) {
    *error = res.string() + ": no resource folder";
    return false;
  }
  Resources loaded;
  loaded.folder = res.string();
  json strings;
  if (!readJson(res / "strings.json", &strings, error)) return false;
  if (!strings.is_object() || !strings.contains("strings") || !strings["strings"].is_object()) {
    *error = (res / "strings.json").string() + ": expected {\"strings\": {...}}";
    return false;
  }
  for (const auto& [key, value] : strings["strings"].items()) {
    bool ok = false;
    const std::int32_t id = parseId(key, &ok);
    if (!ok || !value.is_string()) {
      *error = (res / "strings.json").string() + ": entry \"" + key + "\" is not an id with a text";
      return false;
    }
    loaded.strings[id] = value.get<std::string>();
  }
  const fs::path dialogs = res / "dialogs";
  if (fs::is_directory(dialogs, ec)) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dialogs)) {
      if (entry.path().extension() == ".json") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      DialogDescription dialog;
      if (!readDialog(file, &dialog, error)) return false;
      loaded.dialogs[dialog.id] = std::move(dialog);
    }
  }
  *resources = std::move(loaded);
  return true;
}

bool loadImage(const std::string& path, Image* image, std::string* error) {
  // libtiff reports problems through handlers that print; keep the host quiet and answer
  // the failure instead.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) {
    *error = path + ": not a readable TIFF image";
    return false;
  }
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  if (width == 0 || height == 0 || width > 4096 || height > 4096) {
    TIFFClose(tif);
    *error = path + ": image size out of range";
    return false;
  }
  std::vector<std::uint32_t> raster(static_cast<std::size_t>(width) * height);
  const int ok = TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0);
  TIFFClose(tif);
  if (!ok) {
    *error = path + ": image data cannot be decoded";
    return false;
  }
  image->width = static_cast<std::int32_t>(width);
  image->height = static_cast<std::int32_t>(height);
  image->rgba.resize(raster.size() * 4);
  for (std::size_t i = 0; i < raster.size(); ++i) {
    image->rgba[4 * i + 0] = static_cast<std::uint8_t>(TIFFGetR(raster[i]));
    image->rgba[4 * i + 1] = static_cast<std::uint8_t>(TIFFGetG(raster[i]));
    image->rgba[4 * i + 2] = static_cast<std::uint8_t>(TIFFGetB(raster[i]));
    image->rgba[4 * i + 3] = static_cast<std::uint8_t>(TIFFGetA(raster[i]));
  }
  return true;
}

}  // namespace runtime
