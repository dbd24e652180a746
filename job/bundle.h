// The pieces as files that travel on their own: an OBJ with its MTL and texture images in one ZIP
// archive, and a GLB with its textures inside. Neither names a path of this machine.
#pragma once

#include <string>

#include "scene/document.h"

namespace job {

/// Writes the document's polygon objects as `stem`.obj and `stem`.mtl with the materials' texture
/// images into the ZIP archive at `path`; the MTL names each image by its name in the archive.
/// Relative texture paths are taken relative to `textureFolder`; an image that cannot be read is
/// left out with its reference. `work` is an empty folder for the files on their way into the
/// archive. The same document gives the same bytes. False with *error set.
bool writeMeshZip(const scene::Document& document, const std::string& textureFolder, const std::string& stem,
                  const std::string& work, const std::string& path, std::string* error);

/// Writes the document as our native scene at `path`, each texture named by its file name alone:
/// the file travels without naming a folder of this machine. False with *error set.
bool writeSceneAlone(const scene::Document& document, const std::string& path, std::string* error);

}  // namespace job
