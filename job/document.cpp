#include "job/document.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <functional>

#include "formats/mesh_io.h"
#include "formats/scene_json.h"

namespace job {

namespace fs = std::filesystem;

bool isSceneFile(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".json";
}

bool loadModel(const std::string& path, scene::Document& document, std::string* error, const std::string& shownName,
               const std::string& embeddedImages, int* faces) {
  std::error_code ec;
  bool loaded = false;
  if (!fs::exists(path, ec)) {
    *error = path + ": no such file";
  } else if (!fs::is_regular_file(path, ec)) {
    *error = path + ": not a file";
  } else if (fs::file_size(path, ec) == 0) {
    *error = path + ": the file is empty";
  } else if (isSceneFile(path)) {
    auto scene = formats::loadScene(path, error);
    if (scene) {
      if (faces) {
        *faces = 0;
        for (const scene::Object* o : scene->allObjects()) *faces += static_cast<int>(o->polygons.size());
      }
      scene::moveContent(*scene, document);
      loaded = true;
    }
  } else {
    loaded = formats::importMesh(path, document, error, embeddedImages, faces);
  }
  if (!loaded && !shownName.empty()) {
    for (std::size_t at; (at = error->find(path)) != std::string::npos;) error->replace(at, path.size(), shownName);
  }
  return loaded;
}

bool selectObjects(scene::Document& document, const std::vector<std::string>& names, std::string* error) {
  document.deselectAll();
  if (names.empty()) {
    for (const auto& o : document.objects()) o->selected = true;
    return true;
  }
  for (const std::string& name : names) {
    bool found = false;
    for (scene::Object* o : document.allObjects()) {
      if (o->name == name) o->selected = found = true;
    }
    if (!found) {
      *error = "no object named \"" + name + "\" in the input";
      return false;
    }
  }
  return true;
}

int unfoldableObjects(const scene::Document& document) {
  int count = 0;
  std::function<void(const scene::Object&, bool)> visit = [&](const scene::Object& o, bool below) {
    const bool taken = below || o.selected;
    const bool polygons = o.type != sdk::kObjectPolygon || !o.polygons.empty();
    if (taken && o.convertible() && polygons) ++count;
    for (const auto& child : o.children) visit(*child, taken);
  };
  for (const auto& o : document.objects()) visit(*o, false);
  return count;
}

std::array<double, 3> selectionExtent(const scene::Document& document) {
  auto copy = scene::polygonForm(*scene::copySelection(document, document.activeObjects(true)));
  double low[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, high[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
  for (const scene::Object* o : copy->allObjects()) {
    for (const scene::Point& p : o->points) {
      const double v[3] = {p.x, p.y, p.z};
      for (int i = 0; i < 3; ++i) {
        low[i] = std::min(low[i], v[i]);
        high[i] = std::max(high[i], v[i]);
      }
    }
  }
  std::array<double, 3> extent{0, 0, 0};
  for (std::size_t i = 0; i < 3; ++i) extent[i] = high[i] >= low[i] ? high[i] - low[i] : 0;
  return extent;
}

double medianEdge(const scene::Document& document) {
  auto copy = scene::polygonForm(*scene::copySelection(document, document.activeObjects(true)));
  std::vector<double> lengths;
  for (const scene::Object* o : copy->allObjects()) {
    const auto& points = o->points;
    const auto length = [&](std::int32_t i, std::int32_t j) {
      const scene::Point &p = points[static_cast<std::size_t>(i)], &q = points[static_cast<std::size_t>(j)];
      return std::hypot(p.x - q.x, p.y - q.y, p.z - q.z);
    };
    for (const auto& polygon : o->polygons) {
      const std::int32_t corners[4] = {polygon.a, polygon.b, polygon.c, polygon.d};
      const int n = polygon.c == polygon.d ? 3 : 4;
      bool inside = true;
      for (const std::int32_t k : corners) inside = inside && k >= 0 && static_cast<std::size_t>(k) < points.size();
      if (!inside) continue;
      for (int i = 0; i < n; ++i) {
        const double l = length(corners[i], corners[(i + 1) % n]);
        if (std::isfinite(l)) lengths.push_back(l);
      }
    }
  }
  if (lengths.empty()) return 0;
  auto middle = lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2);
  std::nth_element(lengths.begin(), middle, lengths.end());
  return *middle;
}

std::string shortEdgesWarning(double medianModelEdge, double scale, double modelHeight) {
  const double onPaper = medianModelEdge * scale;
  if (!(onPaper > 0) || onPaper >= kShortestEdgeToBuild || !std::isfinite(onPaper)) return "";
  // The scale that makes the median edge kShortestEdgeToBuild long, rounded up to two
  // significant digits: a number a person types again.
  const double wanted = scale * kShortestEdgeToBuild / onPaper;
  const double unit = std::pow(10.0, std::floor(std::log10(wanted)) - 1);
  const double fixed = std::ceil(wanted / unit - 1e-9) * unit;
  char text[320];
  std::snprintf(text, sizeof text,
                "the triangles are small on paper: half their edges are %.1f mm or shorter, too short to cut, fold and "
                "glue well; --scale %.6g (the model %.0f mm high) makes them %.0f mm",
                onPaper, fixed, modelHeight * fixed, kShortestEdgeToBuild);
  return text;
}

}  // namespace job
