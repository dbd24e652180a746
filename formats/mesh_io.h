// Mesh files of other programs: read through Assimp, written by our own writers.
#pragma once

#include <string>
#include <vector>

#include "scene/document.h"

namespace formats {

/// Reads a mesh file (OBJ with MTL, STL, PLY, glTF/GLB, FBX, COLLADA, 3DS and every other
/// format Assimp reads) and appends its objects and materials to `document`, as a modeller's
/// host builds a document:
/// - one polygon object per scene node that carries meshes, named after the node, the node's
///   meshes (Assimp splits an object by material) merged back into one object, and the node's
///   global transform baked into the points;
/// - points welded by exactly equal position, so that neighbours across texture seams and
///   material borders are found;
/// - each material becomes a document material (name, diffuse colour, texture image path made
///   absolute), a polygon-selection tag named after it holding the polygons that use it, and a
///   texture tag restricted to that selection;
/// - the first texture-coordinate channel becomes a texture-coordinate tag (one entry per
///   polygon);
/// - polygons of more than four corners are split into triangles by ear clipping in their own
///   plane; points and lines are skipped.
/// The new objects are not selected. Null on failure with *error naming the file and the problem
/// (missing, unreadable or empty file; Assimp's own message; no polygon mesh; a coordinate that
/// is not a finite number).
/// Images embedded in the file (a GLB's, an FBX's) are written into `embeddedImages` as
/// NAME-image-N.png or .jpg, so that the materials can name them; with no folder given they are
/// not written and the materials keep their colours only. `faces`, when given, is set to the
/// number of faces as the file has them: a face of many corners, split into triangles here,
/// counts once.
bool importMesh(const std::string& path, scene::Document& document, std::string* error,
                const std::string& embeddedImages = "", int* faces = nullptr);

/// The file extensions importMesh reads, lower case with their dot (".obj", ".glb", ...).
std::vector<std::string> importExtensions();

/// The material of each polygon of the object as the host assigns it: the last texture tag
/// whose restriction names a selection holding the polygon; for polygons no such tag covers,
/// the last unrestricted texture tag; null where neither exists. Links to materials outside the
/// document count as no link.
std::vector<const scene::Material*> polygonMaterials(const scene::Document& document, const scene::Object& object);

/// True when the file extension is one exportMesh writes: .obj, .glb, .gltf, .stl, .ply.
bool canExportMesh(const std::string& path);

/// The file extensions exportMesh writes, lower case with their dot, in that order.
std::vector<std::string> exportExtensions();

/// How exportMesh writes.
struct MeshExportOptions {
  /// glTF and GLB: the texture images (PNG or JPEG) go into the binary buffer instead of being
  /// referred to by their paths; an image that cannot be read or is of another kind fails the
  /// export.
  bool embedTextures = false;
};

/// Writes the objects (polygon objects; others are skipped) with their materials (texture tags,
/// restricted to selections, choose a polygon's material) and texture coordinates. An .obj gets
/// its .mtl beside it, a .gltf its .bin. Every file is written under a temporary name and renamed
/// when complete. Texture images are referred to by their paths as the document holds them.
bool exportMesh(const scene::Document& document, const std::vector<const scene::Object*>& objects,
                const std::string& path, std::string* error, const MeshExportOptions& options = {});

}  // namespace formats
