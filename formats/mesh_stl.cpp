// Binary STL: a header, the number of triangles, and each triangle with its unit normal.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "formats/files.h"
#include "formats/mesh_export.h"

namespace formats::detail {

/// Binary STL: every triangle with its unit normal (zero for a triangle without area).
bool writeStl(const Mesh& mesh, const std::string& path, const MeshExportOptions&, std::string* error) {
  std::uint64_t count = 0;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) count += primitive.sizes.size();
  }
  if (count > std::numeric_limits<std::uint32_t>::max()) {
    *error = path + ": too many triangles for an STL file";
    return false;
  }
  StagedFiles files;
  Output out(files.stage(path), path);
  // The header must not start with "solid", which marks a text STL.
  char header[80];
  std::memset(header, ' ', sizeof header);
  std::memcpy(header, "Foldra binary STL", 17);
  out.write(header, sizeof header);
  out.writeValue(static_cast<std::uint32_t>(count));
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      for (std::size_t t = 0; t < primitive.sizes.size(); ++t) {
        float record[12];
        for (std::size_t k = 0; k < 3; ++k) {
          std::memcpy(record + 3 + 3 * k, &primitive.positions[3 * primitive.corners[3 * t + k]], 3 * sizeof(float));
        }
        const double ux = record[6] - record[3], uy = record[7] - record[4], uz = record[8] - record[5];
        const double vx = record[9] - record[3], vy = record[10] - record[4], vz = record[11] - record[5];
        double n[3] = {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (std::size_t c = 0; c < 3; ++c) {
          const double unit = length > 0 && std::isfinite(length) ? n[c] / length : 0.0;
          record[c] = static_cast<float>(unit);
        }
        out.write(record, sizeof record);
        const std::uint16_t attributes = 0;
        out.writeValue(attributes);
      }
    }
  }
  if (!out.close(error)) return false;
  return files.commit(error);
}

}  // namespace formats::detail
