// Reading other programs' mesh files through Assimp into polygon objects, materials and tags.
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <array>
#include <assimp/Importer.hpp>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "formats/mesh_io.h"

namespace formats {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNoPolygonMesh = "no polygon mesh in the file";

using Matrix = aiMatrix4x4t<double>;
using Vec3 = aiVector3t<double>;

/// A node's meshes merged into one polygon object, before the materials are made: the Assimp
/// material index and the texture coordinates of each polygon are kept beside it.
struct Draft {
  std::unique_ptr<scene::Object> object;
  std::vector<unsigned> materialOf;
  std::vector<scene::UVWEntry> uvw;
  bool hasUVs = false;
  std::map<std::tuple<float, float, float>, std::int32_t> pointIndex;
};

/// One corner of a face: its welded point and its texture coordinate.
struct Corner {
  std::int32_t point = 0;
  scene::Point uv;
};

std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

/// Checks what Assimp would report less clearly (or not at all): a missing, unreadable or
/// empty file.
bool checkReadable(const std::string& path, std::string* error) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) {
    *error = path + ": no such file";
    return false;
  }
  if (ec) {
    *error = path + ": cannot be read (" + ec.message() + ")";
    return false;
  }
  if (fs::is_directory(status)) {
    *error = path + ": is a folder, not a file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  char first = 0;
  if (!in.get(first)) {
    *error = path + ": the file is empty";
    return false;
  }
  return true;
}

/// Size in bytes of a PLY scalar type in a binary file; 0 for a word that is no type.
std::size_t plyTypeSize(const std::string& type) {
  static const std::map<std::string, std::size_t> sizes = {
      {"char", 1},  {"uchar", 1}, {"int8", 1},   {"uint8", 1},   {"short", 2},  {"ushort", 2},
      {"int16", 2}, {"uint16", 2}, {"int", 4},   {"uint", 4},    {"int32", 4},  {"uint32", 4},
      {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
  const auto it = sizes.find(type);
  return it == sizes.end() ? 0 : it->second;
}

/// Reads a PLY header before Assimp does: Assimp's reader never stops on a header without its
/// end_header line, and it reserves memory for the element counts a header declares, however
/// few bytes follow. So the header must end, and every element it declares must fit in the
/// bytes after it: in ASCII at least two bytes per property (a digit and a separator), in
/// binary the size of its scalar properties (a list at least its count).
bool checkPlyHeader(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!std::getline(in, line)) return true;
  // Assimp takes the magic word in any case, after blanks.
  const auto first = line.find_first_not_of(" \t");
  std::string magic = first == std::string::npos ? std::string() : line.substr(first, 3);
  for (char& c : magic) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (magic != "ply") return true;  // not a PLY file
  auto fail = [&](const std::string& problem) {
    *error = path + ": " + problem;
    return false;
  };
  bool ascii = true;
  struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::uint64_t bytes = 0;  // the least one element takes
  };
  std::vector<Element> elements;
  bool ended = false;
  // A header is a few lines; one of more than 64 KiB is no header.
  for (std::size_t read = 0; read < 65536 && std::getline(in, line); read += line.size() + 1) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Assimp splits header lines at blanks and tabs only: "end_header" followed by any other
    // control character (a vertical tab, say) is no end to it, and it would read on forever.
    line.erase(0, std::min(line.size(), line.find_first_not_of(" \t")));
    const std::string keyword = line.substr(0, line.find_first_of(" \t"));
    std::istringstream words(line.substr(keyword.size()));
    if (keyword == "end_header") {
      ended = true;
      break;
    }
    if (keyword == "format") {
      std::string format;
      words >> format;
      ascii = format == "ascii";
    } else if (keyword == "element") {
      Element e;
      std::string count;
      words >> e.name >> count;
      if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos || count.size() > 12) {
        return fail("the PLY header declares element \"" + e.name + "\" with a count that is not a number");
      }
      e.count = std::stoull(count);
      elements.push_back(e);
    } else if (keyword == "property" && !elements.empty()) {
      std::string type, countType;
      words >> type;
      std::uint64_t size = plyTypeSize(type);
      if (type == "list") {
        words >> countType;
        size = plyTypeSize(countType);
      }
      elements.back().bytes += ascii ? 2 : std::max<std::uint64_t>(size, 1);
    }
  }
  if (!ended) return fail("the PLY header does not end (no end_header line)");
  const std::streamoff start = in.tellg();
  in.seekg(0, std::ios::end);
  // The last line of an ASCII file may go without its line end.
  const std::uint64_t rest = (start >= 0 ? static_cast<std::uint64_t>(in.tellg() - start) : 0) + (ascii ? 1 : 0);
  std::uint64_t needed = 0;
  for (const Element& e : elements) {
    const std::uint64_t each = std::max<std::uint64_t>(e.bytes, 1);
    if (e.count > rest / each || needed + e.count * each > rest) {
      return fail("the PLY header declares " + std::to_string(e.count) + " " + e.name +
                  " elements, more than the file holds");
    }
    needed += e.count * each;
  }
  return true;
}

/// False for NaN, infinity and values that do not fit a float (they would become infinite when
/// stored).
bool fitsFloat(double value) { return std::fabs(value) <= std::numeric_limits<float>::max(); }

bool toPoint(const Vec3& v, scene::Point* out) {
  if (!fitsFloat(v.x) || !fitsFloat(v.y) || !fitsFloat(v.z)) return false;
  *out = {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
  return true;
}

/// Welding by exactly equal position: corners that Assimp keeps apart because their texture
/// coordinates or materials differ become one point, so that their polygons are neighbours.
std::int32_t weld(Draft& draft, const scene::Point& p) {
  const auto [it, added] =
      draft.pointIndex.try_emplace({p.x, p.y, p.z}, static_cast<std::int32_t>(draft.object->points.size()));
  if (added) draft.object->points.push_back(p);
  return it->second;
}

Vec3 newellNormal(const std::vector<Vec3>& p) {
  Vec3 n(0, 0, 0);
  for (std::size_t i = 0; i < p.size(); ++i) {
    const Vec3& a = p[i];
    const Vec3& b = p[(i + 1) % p.size()];
    n.x += (a.y - b.y) * (a.z + b.z);
    n.y += (a.z - b.z) * (a.x + b.x);
    n.z += (a.x - b.x) * (a.y + b.y);
  }
  return n;
}

/// Twice the signed area of the triangle a, b, c; positive when it turns counter-clockwise.
double turn(const aiVector2t<double>& a, const aiVector2t<double>& b, const aiVector2t<double>& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

/// The corners projected onto the plane of the Newell normal, in a basis (u, v) with
/// u x v = normal, so that the polygon turns counter-clockwise there. Empty when the polygon
/// has no normal (all corners on a line or in one point).
std::vector<aiVector2t<double>> projectOntoOwnPlane(const std::vector<Vec3>& corners) {
  Vec3 normal = newellNormal(corners);
  const double length = normal.Length();
  if (!(length > 0) || !std::isfinite(length)) return {};
  normal /= length;
  // Any direction not parallel to the normal gives the first axis; the coordinate axis along
  // which the normal is smallest is farthest from parallel.
  const Vec3 ax = std::fabs(normal.x) <= std::fabs(normal.y) && std::fabs(normal.x) <= std::fabs(normal.z)
                      ? Vec3(1, 0, 0)
                      : (std::fabs(normal.y) <= std::fabs(normal.z) ? Vec3(0, 1, 0) : Vec3(0, 0, 1));
  const Vec3 u = (ax ^ normal).Normalize();
  const Vec3 v = normal ^ u;
  std::vector<aiVector2t<double>> flat;
  flat.reserve(corners.size());
  for (const Vec3& c : corners) {
    const Vec3 d = c - corners[0];
    flat.emplace_back(d * u, d * v);
  }
  return flat;
}

/// How far from a line a corner may lie and still count as lying on it: a generous multiple of
/// the rounding of float points at the polygon's distance from the origin. Without it, rounding
/// can move a corner just off an ear's border and let a sliver through.
double slackOf(const std::vector<Vec3>& corners) {
  double largest = 0;
  for (const Vec3& c : corners) largest = std::max({largest, std::fabs(c.x), std::fabs(c.y), std::fabs(c.z)});
  return largest * 1e-6;
}

/// True when p lies left of the line from a to b, or on it within `slack`.
bool leftOrOn(const aiVector2t<double>& a, const aiVector2t<double>& b, const aiVector2t<double>& p,
              double slack) {
  return turn(a, b, p) >= -slack * (b - a).Length();
}

/// How well-shaped the ear at left[k] is: twice its area over the sum of its squared edges,
/// near 0 for a sliver. Negative when the corner is no ear: it does not turn the polygon's way,
/// or one of `blockers` lies inside the triangle or on its border (cutting there would make
/// triangles that overlap).
double earQuality(const std::vector<aiVector2t<double>>& flat, const std::vector<std::size_t>& left,
                  std::size_t k, const std::vector<std::size_t>& blockers, double slack) {
  const std::size_t m = left.size();
  const std::size_t ia = left[(k + m - 1) % m], ib = left[k], ic = left[(k + 1) % m];
  const auto &a = flat[ia], &b = flat[ib], &c = flat[ic];
  const double area2 = turn(a, b, c);
  if (!(area2 > 0)) return -1;
  for (std::size_t j : blockers) {
    if (j == ia || j == ib || j == ic) continue;
    const auto& p = flat[j];
    if (leftOrOn(a, b, p, slack) && leftOrOn(b, c, p, slack) && leftOrOn(c, a, p, slack)) return -1;
  }
  return area2 / ((b - a).SquareLength() + (c - b).SquareLength() + (a - c).SquareLength());
}

/// Splits a polygon of more than four corners into triangles of corner indices, keeping its
/// winding. Ear clipping in the polygon's own plane: the corners are projected onto the plane of
/// the Newell normal (which stays meaningful for slightly bent polygons), then ears are cut off
/// one by one, the best-shaped first, so that corners on a straight line do not end up in
/// slivers of no area. A degenerate polygon (no normal, or no ear left because corners coincide
/// or lie on a line) is finished as a fan from its first remaining corner, so that no corner is
/// lost.
std::vector<std::array<std::size_t, 3>> splitPolygon(const std::vector<Vec3>& corners) {
  std::vector<std::size_t> left(corners.size());
  for (std::size_t i = 0; i < left.size(); ++i) left[i] = i;
  std::vector<std::array<std::size_t, 3>> triangles;
  const std::vector<aiVector2t<double>> flat = projectOntoOwnPlane(corners);
  const double slack = slackOf(corners);
  while (!flat.empty() && left.size() > 3) {
    const std::size_t m = left.size();
    // In a simple polygon an ear holds another corner only if it holds one that does not turn
    // the polygon's way (or lies on the line of its neighbours), so only those need testing.
    std::vector<std::size_t> blockers;
    for (std::size_t k = 0; k < m; ++k) {
      const auto& prev = flat[left[(k + m - 1) % m]];
      const auto& next = flat[left[(k + 1) % m]];
      if (leftOrOn(prev, next, flat[left[k]], slack)) blockers.push_back(left[k]);
    }
    std::size_t best = m;
    double bestQuality = 0;
    for (std::size_t k = 0; k < m; ++k) {
      const double quality = earQuality(flat, left, k, blockers, slack);
      if (quality > bestQuality) {
        best = k;
        bestQuality = quality;
      }
    }
    if (best == m) break;
    triangles.push_back({left[(best + m - 1) % m], left[best], left[(best + 1) % m]});
    left.erase(left.begin() + static_cast<std::ptrdiff_t>(best));
  }
  for (std::size_t i = 1; i + 1 < left.size(); ++i) triangles.push_back({left[0], left[i], left[i + 1]});
  return triangles;
}

void addPolygon(Draft& draft, const Corner& a, const Corner& b, const Corner& c, const Corner& d,
                unsigned material) {
  draft.object->polygons.push_back({a.point, b.point, c.point, d.point});
  draft.uvw.push_back({a.uv, b.uv, c.uv, d.uv});
  draft.materialOf.push_back(material);
}

/// Adds a mesh's faces to the draft; false with *problem set when a coordinate is not a finite
/// float or the object outgrows 32-bit point indices.
bool addMesh(Draft& draft, const aiMesh& mesh, const Matrix& transform, std::string* problem) {
  std::vector<Corner> corners;
  std::vector<Vec3> positions;
  const aiVector3D* uvs = mesh.mTextureCoords[0];
  if (uvs) draft.hasUVs = true;
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
    const aiFace& face = mesh.mFaces[f];
    if (face.mNumIndices < 3) continue;
    corners.clear();
    positions.clear();
    for (unsigned i = 0; i < face.mNumIndices; ++i) {
      const unsigned vertex = face.mIndices[i];
      const aiVector3D& v = mesh.mVertices[vertex];
      scene::Point point;
      if (!toPoint(transform * Vec3(v.x, v.y, v.z), &point)) {
        *problem = "a point coordinate is not a finite number";
        return false;
      }
      positions.emplace_back(point.x, point.y, point.z);
      // Point indices are 32-bit in the document.
      if (draft.object->points.size() == static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        *problem = "too many points in one object";
        return false;
      }
      Corner corner;
      corner.point = weld(draft, point);
      if (uvs && !toPoint(Vec3(uvs[vertex].x, uvs[vertex].y, uvs[vertex].z), &corner.uv)) {
        *problem = "a texture coordinate is not a finite number";
        return false;
      }
      corners.push_back(corner);
    }
    if (corners.size() == 3) {
      addPolygon(draft, corners[0], corners[1], corners[2], corners[2], mesh.mMaterialIndex);
    } else if (corners.size() == 4) {
      addPolygon(draft, corners[0], corners[1], corners[2], corners[3], mesh.mMaterialIndex);
    } else {
      for (const auto& t : splitPolygon(positions)) {
        addPolygon(draft, corners[t[0]], corners[t[1]], corners[t[2]], corners[t[2]], mesh.mMaterialIndex);
      }
    }
  }
  return true;
}

/// One draft per node that carries polygons, in depth-first order with children in file order.
bool collectDrafts(const aiScene& ai, const std::string& fallbackName, std::vector<Draft>* drafts,
                   std::string* problem) {
  // An explicit stack: a file may nest nodes deeper than the call stack would allow.
  std::vector<std::pair<const aiNode*, Matrix>> stack{{ai.mRootNode, Matrix()}};
  while (!stack.empty()) {
    const auto [node, parent] = stack.back();
    stack.pop_back();
    const Matrix global = parent * Matrix(node->mTransformation);
    for (unsigned i = node->mNumChildren; i-- > 0;) stack.emplace_back(node->mChildren[i], global);
    if (node->mNumMeshes == 0) continue;
    Draft draft;
    draft.object = std::make_unique<scene::Object>(sdk::kObjectPolygon);
    draft.object->name = node->mName.length > 0 ? node->mName.C_Str() : fallbackName;
    for (unsigned m = 0; m < node->mNumMeshes; ++m) {
      if (!addMesh(draft, *ai.mMeshes[node->mMeshes[m]], global, problem)) return false;
    }
    if (!draft.object->polygons.empty()) drafts->push_back(std::move(draft));
  }
  return true;
}

double colorChannel(float value) {
  if (!std::isfinite(value)) return 0.8;
  return value < 0 ? 0.0 : (value > 1 ? 1.0 : value);
}

/// Where the images embedded in a file go, and the names they took there.
struct EmbeddedImages {
  fs::path folder;
  std::string stem;
  std::map<const aiTexture*, std::string> written;
};

/// An embedded image written into the folder; "" when there is no folder, or the image is not
/// a PNG or JPEG file as it stands (raw pixels), or it cannot be written.
std::string writeEmbedded(const aiTexture& image, EmbeddedImages& images) {
  if (images.folder.empty() || image.mHeight != 0 || image.mWidth == 0) return {};
  if (auto it = images.written.find(&image); it != images.written.end()) return it->second;
  const std::string hint = image.achFormatHint;
  const bool png = hint == "png", jpeg = hint == "jpg" || hint == "jpeg";
  if (!png && !jpeg) return {};
  fs::path path;
  std::error_code ec;
  for (std::size_t n = images.written.size() + 1; path.empty() || fs::exists(path, ec); ++n) {
    path = images.folder / (images.stem + "-image-" + std::to_string(n) + (png ? ".png" : ".jpg"));
  }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.pcData), static_cast<std::streamsize>(image.mWidth));
  if (!out) return {};
  return images.written[&image] = path.string();
}

/// The texture path made absolute against the model file's folder. Backslashes become slashes:
/// files written on Windows name their images that way. Embedded images ("*0", or a name the
/// file carries inside) are written out when there is a folder for them.
std::string texturePath(const aiScene& ai, const aiMaterial& material, const fs::path& folder, EmbeddedImages& images) {
  aiString texture;
  if (material.GetTexture(aiTextureType_DIFFUSE, 0, &texture) != AI_SUCCESS) return {};
  std::string text = texture.C_Str();
  if (const aiTexture* embedded = text.empty() ? nullptr : ai.GetEmbeddedTexture(text.c_str())) {
    return writeEmbedded(*embedded, images);
  }
  if (text.empty() || text[0] == '*') return {};
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return (folder / fs::path(text)).lexically_normal().string();
}

std::unique_ptr<scene::Material> convertMaterial(const aiScene& ai, const aiMaterial& material, unsigned index,
                                                 const fs::path& folder, EmbeddedImages& images) {
  auto out = std::make_unique<scene::Material>();
  aiString name;
  out->name = material.Get(AI_MATKEY_NAME, name) == AI_SUCCESS ? name.C_Str() : "";
  if (out->name.empty()) out->name = "Material " + std::to_string(index + 1);
  aiColor3D color;
  if (material.Get(AI_MATKEY_COLOR_DIFFUSE, color) == AI_SUCCESS) {
    out->color = {colorChannel(color.r), colorChannel(color.g), colorChannel(color.b)};
  }
  out->texture = texturePath(ai, material, folder, images);
  return out;
}

/// Per used material: the document material and the name of the selections that hold its
/// polygons. Selection names are made unique ("Name 2", "Name 3", ...) because a texture tag's
/// restriction finds its selection by name.
struct MaterialUse {
  scene::Material* material = nullptr;
  std::string selection;
};

std::map<unsigned, MaterialUse> makeMaterials(const aiScene& ai, const std::vector<Draft>& drafts,
                                              const fs::path& folder, EmbeddedImages& images,
                                              scene::Document& document) {
  std::set<unsigned> used;
  for (const Draft& d : drafts) used.insert(d.materialOf.begin(), d.materialOf.end());
  std::map<unsigned, MaterialUse> uses;
  std::set<std::string> taken;
  for (unsigned index : used) {
    MaterialUse& use = uses[index];
    use.material = document.addMaterial(convertMaterial(ai, *ai.mMaterials[index], index, folder, images));
    use.selection = use.material->name;
    for (int n = 2; !taken.insert(use.selection).second; ++n) {
      use.selection = use.material->name + " " + std::to_string(n);
    }
  }
  return uses;
}

/// Tags in material order, for each material its texture tag and then its selection, and the
/// texture coordinates last.
void addTags(Draft& draft, const std::map<unsigned, MaterialUse>& uses) {
  scene::Object& object = *draft.object;
  std::map<unsigned, scene::PolygonSelection> selections;
  for (std::size_t p = 0; p < draft.materialOf.size(); ++p) {
    selections[draft.materialOf[p]].add(static_cast<std::int32_t>(p));
  }
  for (auto& [index, selection] : selections) {
    const MaterialUse& use = uses.at(index);
    scene::Tag* texture = object.addTag(sdk::kTagTexture, use.material->name);
    texture->material = use.material;
    texture->restriction = use.selection;
    object.addTag(sdk::kTagPolygonSelection, use.selection)->selection = std::move(selection);
  }
  if (draft.hasUVs) object.addTag(sdk::kTagUVW, "UVW")->uvw = std::move(draft.uvw);
}

}  // namespace

std::vector<std::string> importExtensions() {
  Assimp::Importer importer;
  std::string list;
  importer.GetExtensionList(list);  // "*.3ds;*.obj;..."
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    start = end + 1;
    if (item.rfind("*.", 0) != 0 || item.size() < 3) continue;
    std::string extension = item.substr(1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    out.push_back(extension);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool importMesh(const std::string& path, scene::Document& document, std::string* error,
                const std::string& embeddedImages, int* faces) {
  if (!checkReadable(path, error) || !checkPlyHeader(path, error)) return false;
  // Assimp's default logger is never created here, so Assimp prints nothing; its errors come
  // back through GetErrorString.
  Assimp::Importer importer;
  // No triangulation: quads stay quads and larger polygons are split here, in their own plane.
  const aiScene* ai = importer.ReadFile(path, 0);
  if (ai && ai->mNumMeshes == 0) {
    *error = path + ": " + kNoPolygonMesh;
    return false;
  }
  // Validation turns broken files (indices out of range and the like) into an error message
  // instead of a crash; it runs after the check above, which names an empty scene more clearly.
  if (ai) ai = importer.ApplyPostProcessing(aiProcess_ValidateDataStructure);
  if (!ai) {
    const std::string reason = oneLine(importer.GetErrorString());
    *error = path + ": " + (reason.empty() ? "cannot be read as a mesh" : reason);
    return false;
  }
  std::vector<Draft> drafts;
  std::string problem;
  if (!collectDrafts(*ai, fs::path(path).stem().string(), &drafts, &problem)) {
    *error = path + ": " + problem;
    return false;
  }
  if (drafts.empty()) {
    *error = path + ": " + kNoPolygonMesh;
    return false;
  }
  std::error_code ec;
  const fs::path folder = fs::absolute(path, ec).parent_path();
  scene::Document built;
  EmbeddedImages images{embeddedImages, fs::path(path).stem().string(), {}};
  const auto uses = makeMaterials(*ai, drafts, folder, images, built);
  for (Draft& draft : drafts) {
    addTags(draft, uses);
    built.append(std::move(draft.object));
  }
  scene::moveContent(built, document);
  if (faces) {
    *faces = 0;
    for (unsigned m = 0; m < ai->mNumMeshes; ++m) {
      for (unsigned f = 0; f < ai->mMeshes[m]->mNumFaces; ++f) *faces += ai->mMeshes[m]->mFaces[f].mNumIndices >= 3 ? 1 : 0;
    }
  }
  return true;
}

}  // namespace formats
