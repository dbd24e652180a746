// glTF 2.0: the JSON that describes the scene, its meshes and materials, and one binary buffer
// with every primitive's positions, texture coordinates and indices (and the images when they
// are embedded). A .glb holds both in one file; a .gltf names its .bin beside it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "formats/files.h"
#include "formats/json_writer.h"
#include "formats/mesh_export.h"

namespace formats::detail {

namespace {

namespace fs = std::filesystem;

constexpr int kFloat = 5126;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

/// A texture image of the file: its path as the document holds it, and its bytes when it is
/// embedded.
struct Image {
  std::string path;
  std::string bytes;
  const char* mimeType = nullptr;
};

/// Reads a texture image to embed; glTF takes PNG and JPEG only, told by their first bytes.
bool readImage(Image& image, std::string* error) {
  std::ifstream in(image.path, std::ios::binary);
  image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    *error = image.path + ": the texture cannot be read";
    return false;
  }
  if (image.bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
    image.mimeType = "image/png";
  } else if (image.bytes.compare(0, 3, "\xff\xd8\xff") == 0) {
    image.mimeType = "image/jpeg";
  } else {
    *error = image.path + ": the texture " + (image.bytes.empty() ? "cannot be read" : "is neither PNG nor JPEG") +
             ", which a glTF file can embed";
    return false;
  }
  return true;
}

std::size_t padded(std::size_t size) { return (size + 3) / 4 * 4; }

/// The binary buffer: every primitive's positions, then the texture coordinates of those that
/// have them, then every primitive's corner indices, then the embedded images, each padded to
/// four bytes. Positions and texture coordinates are each one buffer view with a stride, the
/// indices one more, each image one of its own.
struct Layout {
  std::size_t positions = 0, uvs = 0, indices = 0, images = 0;
  std::size_t total() const { return positions + uvs + indices + images; }
};

Layout layoutOf(const Mesh& mesh, const std::vector<Image>& images) {
  Layout layout;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      layout.positions += primitive.positions.size() * sizeof(float);
      layout.uvs += primitive.uvs.size() * sizeof(float);
      layout.indices += primitive.corners.size() * sizeof(std::uint32_t);
    }
  }
  for (const Image& image : images) layout.images += padded(image.bytes.size());
  return layout;
}

/// The images of the file, one per texture path in the order of first use, and each material's
/// image (kNone for none); read into memory when they are embedded.
struct Images {
  std::vector<Image> list;
  std::vector<std::size_t> ofMaterial;
};

bool collectImages(const Mesh& mesh, const MeshExportOptions& options, Images* images, std::string* error) {
  images->ofMaterial.assign(mesh.materials.size(), kNone);
  for (std::size_t m = 0; m < mesh.materials.size(); ++m) {
    const scene::Material* material = mesh.materials[m];
    if (!material || material->texture.empty()) continue;
    const auto same = std::find_if(images->list.begin(), images->list.end(),
                                   [&](const Image& i) { return i.path == material->texture; });
    images->ofMaterial[m] = static_cast<std::size_t>(same - images->list.begin());
    if (same != images->list.end()) continue;
    Image& image = images->list.emplace_back();
    image.path = material->texture;
    if (options.embedTextures && !readImage(image, error)) return false;
  }
  return true;
}

/// The glTF JSON of a mesh, written part by part in the order of the file.
class GltfJson {
 public:
  GltfJson(const Mesh& mesh, const Images& images, const Layout& layout)
      : mesh_(mesh), images_(images), layout_(layout) {}

  /// `bufferUri` names the .bin file; empty for the GLB's own chunk.
  std::string text(const std::string& bufferUri) {
    out_.beginObject();
    asset();
    scenes();
    meshes();
    materials();
    textures();
    accessors();
    bufferViews();
    buffers(bufferUri);
    out_.endObject();
    out_.finish();
    return out_.takeText();
  }

 private:
  // The buffer views: positions, texture coordinates where any primitive has them, indices,
  // then one per embedded image.
  std::int64_t positionView() const { return 0; }
  std::int64_t uvView() const { return layout_.uvs ? 1 : -1; }
  std::int64_t indexView() const { return layout_.uvs ? 2 : 1; }

  void asset() {
    out_.key("asset");
    out_.beginObject(JsonLayout::Inline);
    out_.textMember("version", "2.0");
    out_.textMember("generator", "Foldra");
    out_.endObject();
  }

  // One scene of one node per object, each node with its mesh.
  void scenes() {
    out_.integerMember("scene", 0);
    out_.key("scenes");
    out_.beginArray();
    out_.beginObject(JsonLayout::Inline);
    out_.key("nodes");
    out_.beginArray();
    for (std::size_t o = 0; o < mesh_.objects.size(); ++o) out_.integer(static_cast<std::int64_t>(o));
    out_.endArray();
    out_.endObject();
    out_.endArray();

    out_.key("nodes");
    out_.beginArray();
    for (std::size_t o = 0; o < mesh_.objects.size(); ++o) {
      out_.beginObject(JsonLayout::Inline);
      out_.textMember("name", mesh_.objects[o].name);
      out_.integerMember("mesh", static_cast<std::int64_t>(o));
      out_.endObject();
    }
    out_.endArray();
  }

  // Accessors in the order the meshes name them: per primitive its positions, its texture
  // coordinates where the object has them, and its indices.
  void meshes() {
    out_.key("meshes");
    out_.beginArray();
    std::int64_t accessor = 0;
    for (const MeshObject& object : mesh_.objects) {
      out_.beginObject(JsonLayout::Inline);
      out_.textMember("name", object.name);
      out_.key("primitives");
      out_.beginArray();
      for (const Primitive& primitive : object.primitives) {
        out_.beginObject();
        out_.key("attributes");
        out_.beginObject();
        out_.integerMember("POSITION", accessor++);
        if (object.hasUVs) {
          out_.integerMember("TEXCOORD_0", accessor++);
        }
        out_.endObject();
        out_.integerMember("indices", accessor++);
        out_.integerMember("material", static_cast<std::int64_t>(primitive.material));
        out_.endObject();
      }
      out_.endArray();
      out_.endObject();
    }
    out_.endArray();
  }

  void materials() {
    out_.key("materials");
    out_.beginArray();
    for (std::size_t m = 0; m < mesh_.materials.size(); ++m) {
      const scene::Material* material = mesh_.materials[m];
      out_.beginObject(JsonLayout::Inline);
      out_.textMember("name", materialName(material));
      out_.key("pbrMetallicRoughness");
      out_.beginObject();
      out_.key("baseColorFactor");
      out_.beginArray();
      for (std::size_t c = 0; c < 3; ++c) out_.number(channel(material, c));
      out_.number(1.0f);
      out_.endArray();
      if (images_.ofMaterial[m] != kNone) {
        out_.key("baseColorTexture");
        out_.beginObject();
        out_.integerMember("index", static_cast<std::int64_t>(images_.ofMaterial[m]));
        out_.endObject();
      }
      // Paper is matte.
      out_.integerMember("metallicFactor", 0);
      out_.endObject();
      out_.endObject();
    }
    out_.endArray();
  }

  // A texture per image, and the images: embedded ones by their buffer views, the others by
  // their paths.
  void textures() {
    if (images_.list.empty()) return;
    out_.key("textures");
    out_.beginArray();
    for (std::size_t i = 0; i < images_.list.size(); ++i) {
      out_.beginObject(JsonLayout::Inline);
      out_.integerMember("source", static_cast<std::int64_t>(i));
      out_.endObject();
    }
    out_.endArray();

    out_.key("images");
    out_.beginArray();
    std::int64_t view = indexView() + 1;
    for (const Image& image : images_.list) {
      out_.beginObject(JsonLayout::Inline);
      if (image.mimeType) {
        out_.integerMember("bufferView", view++);
        out_.textMember("mimeType", image.mimeType);
      } else {
        // The path is written as the document holds it.
        out_.textMember("uri", image.path);
      }
      out_.endObject();
    }
    out_.endArray();
  }

  // Opens an accessor's object; the caller adds what else it needs and closes it.
  void accessorEntry(std::int64_t view, std::size_t offset, std::size_t count, int component, const char* type) {
    out_.beginObject(JsonLayout::Inline);
    out_.integerMember("bufferView", view);
    out_.integerMember("byteOffset", static_cast<std::int64_t>(offset));
    out_.integerMember("componentType", component);
    out_.integerMember("count", static_cast<std::int64_t>(count));
    out_.textMember("type", type);
  }

  // Readers need the bounds of the positions.
  void bounds(const Primitive& primitive) {
    std::array<float, 3> low{}, high{};
    for (std::size_t c = 0; c < 3; ++c) low[c] = high[c] = primitive.positions[c];
    for (std::size_t i = 0; i < primitive.positions.size(); ++i) {
      low[i % 3] = std::min(low[i % 3], primitive.positions[i]);
      high[i % 3] = std::max(high[i % 3], primitive.positions[i]);
    }
    out_.key("min");
    out_.beginArray();
    for (float v : low) out_.number(v);
    out_.endArray();
    out_.key("max");
    out_.beginArray();
    for (float v : high) out_.number(v);
    out_.endArray();
  }

  void accessors() {
    out_.key("accessors");
    out_.beginArray();
    std::size_t positionOffset = 0, uvOffset = 0, indexOffset = 0;
    for (const MeshObject& object : mesh_.objects) {
      for (const Primitive& primitive : object.primitives) {
        accessorEntry(positionView(), positionOffset, primitive.vertexCount(), kFloat, "VEC3");
        bounds(primitive);
        out_.endObject();
        positionOffset += primitive.positions.size() * sizeof(float);
        if (object.hasUVs) {
          accessorEntry(uvView(), uvOffset, primitive.vertexCount(), kFloat, "VEC2");
          out_.endObject();
          uvOffset += primitive.uvs.size() * sizeof(float);
        }
        accessorEntry(indexView(), indexOffset, primitive.corners.size(), kUnsignedInt, "SCALAR");
        out_.endObject();
        indexOffset += primitive.corners.size() * sizeof(std::uint32_t);
      }
    }
    out_.endArray();
  }

  void view(std::size_t offset, std::size_t length, int stride, int target) {
    out_.beginObject(JsonLayout::Inline);
    out_.integerMember("buffer", 0);
    out_.integerMember("byteOffset", static_cast<std::int64_t>(offset));
    out_.integerMember("byteLength", static_cast<std::int64_t>(length));
    // Several accessors share the attribute views, which the format allows only with a stride.
    if (stride) {
      out_.integerMember("byteStride", stride);
    }
    if (target) {
      out_.integerMember("target", target);
    }
    out_.endObject();
  }

  void bufferViews() {
    out_.key("bufferViews");
    out_.beginArray();
    view(0, layout_.positions, 12, kArrayBuffer);
    if (layout_.uvs) view(layout_.positions, layout_.uvs, 8, kArrayBuffer);
    view(layout_.positions + layout_.uvs, layout_.indices, 0, kElementArrayBuffer);
    std::size_t imageOffset = layout_.positions + layout_.uvs + layout_.indices;
    for (const Image& image : images_.list) {
      if (!image.mimeType) continue;
      view(imageOffset, image.bytes.size(), 0, 0);
      imageOffset += padded(image.bytes.size());
    }
    out_.endArray();
  }

  void buffers(const std::string& bufferUri) {
    out_.key("buffers");
    out_.beginArray();
    out_.beginObject(JsonLayout::Inline);
    out_.integerMember("byteLength", static_cast<std::int64_t>(layout_.total()));
    if (!bufferUri.empty()) {
      out_.textMember("uri", bufferUri);
    }
    out_.endObject();
    out_.endArray();
  }

  const Mesh& mesh_;
  const Images& images_;
  const Layout& layout_;
  JsonWriter out_;
};

/// Writes the binary buffer as layoutOf lays it out. glTF counts texture coordinates from the
/// top of the image, the document from the bottom.
void writeBuffer(Output& out, const Mesh& mesh, const std::vector<Image>& images) {
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) out.writeArray(primitive.positions);
  }
  std::vector<float> flipped;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      flipped = primitive.uvs;
      for (std::size_t i = 1; i < flipped.size(); i += 2) flipped[i] = 1.0f - flipped[i];
      out.writeArray(flipped);
    }
  }
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) out.writeArray(primitive.corners);
  }
  for (const Image& image : images) {
    if (!image.mimeType) continue;
    out.write(image.bytes);
    out.write(std::string(padded(image.bytes.size()) - image.bytes.size(), '\0'));
  }
}

}  // namespace

bool writeGlb(const Mesh& mesh, const std::string& path, const MeshExportOptions& options, std::string* error) {
  Images images;
  if (!collectImages(mesh, options, &images, error)) return false;
  const Layout layout = layoutOf(mesh, images.list);
  std::string json = GltfJson(mesh, images, layout).text("");
  json.resize(padded(json.size()), ' ');
  const std::size_t bin = padded(layout.total());
  const std::uint64_t total = 12 + 8 + json.size() + 8 + bin;
  if (total > std::numeric_limits<std::uint32_t>::max()) {
    *error = path + ": the mesh is too large for a GLB file (4 GB at most)";
    return false;
  }
  StagedFiles files;
  Output out(files.stage(path), path);
  const std::uint32_t header[5] = {0x46546C67, 2, static_cast<std::uint32_t>(total),
                                   static_cast<std::uint32_t>(json.size()), 0x4E4F534A};
  out.write(header, sizeof header);
  out.write(json);
  const std::uint32_t binHeader[2] = {static_cast<std::uint32_t>(bin), 0x004E4942};
  out.write(binHeader, sizeof binHeader);
  writeBuffer(out, mesh, images.list);
  out.write(std::string(bin - layout.total(), '\0'));
  if (!out.close(error)) return false;
  return files.commit(error);
}

bool writeGltf(const Mesh& mesh, const std::string& path, const MeshExportOptions& options, std::string* error) {
  Images images;
  if (!collectImages(mesh, options, &images, error)) return false;
  const Layout layout = layoutOf(mesh, images.list);
  const fs::path binPath = fs::path(path).replace_extension(".bin");
  // The name is not percent-encoded: Assimp's reader (ours too) takes the uri literally, and
  // a plain name stays readable for lenient readers as well.
  const std::string json = GltfJson(mesh, images, layout).text(binPath.filename().string());
  StagedFiles files;
  Output gltf(files.stage(path), path);
  gltf.write(json);
  if (!gltf.close(error)) return false;
  Output out(files.stage(binPath.string()), binPath.string());
  writeBuffer(out, mesh, images.list);
  if (!out.close(error)) return false;
  return files.commit(error);
}

}  // namespace formats::detail
