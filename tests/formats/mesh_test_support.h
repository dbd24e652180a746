// Helpers shared by the mesh-file tests: a scratch folder, file contents, edge counts and areas.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "scene/document.h"
#include "temp_dir.h"

namespace meshtest {

namespace fs = std::filesystem;

using testing_support::TempDir;

inline std::string write(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

inline std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

/// How many polygons use each edge (pair of point indices, smaller first).
inline std::map<std::pair<std::int32_t, std::int32_t>, int> edgeUse(const scene::Object& object) {
  std::map<std::pair<std::int32_t, std::int32_t>, int> use;
  for (const scene::Polygon& q : object.polygons) {
    std::vector<std::int32_t> corners{q.a, q.b, q.c};
    if (!scene::isTriangle(q)) corners.push_back(q.d);
    for (std::size_t i = 0; i < corners.size(); ++i) {
      const std::int32_t a = corners[i];
      const std::int32_t b = corners[(i + 1) % corners.size()];
      ++use[{std::min(a, b), std::max(a, b)}];
    }
  }
  return use;
}

/// Area vector (normal times area) of a triangle.
inline std::array<double, 3> areaVector(const scene::Point& a, const scene::Point& b, const scene::Point& c) {
  const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
  const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
  return {0.5 * (uy * vz - uz * vy), 0.5 * (uz * vx - ux * vz), 0.5 * (ux * vy - uy * vx)};
}

inline std::size_t polygonCount(const scene::Document& document) {
  std::size_t n = 0;
  for (const auto& o : document.objects()) n += o->polygons.size();
  return n;
}

}  // namespace meshtest
