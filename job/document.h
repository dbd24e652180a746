// The model a job works on: files read into a document of our host, the objects chosen, and
// what the module will find among them.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "scene/document.h"

namespace job {

/// True for our native scene files (.json); everything else is read as a mesh.
bool isSceneFile(const std::string& path);

/// Appends the objects and materials of one model file to `document`: a native scene or any
/// mesh format. False with *error set (one line naming the file and the problem). Where the
/// file is known to the person by another name than its path (the studio keeps uploads under
/// names of its own), `shownName` takes the path's place in the message.
/// Images embedded in a mesh file are written into `embeddedImages` when one is given (see
/// formats::importMesh). `faces`, when given, is set to the number of faces as the file has
/// them (a scene's polygons; a mesh file's faces, however many corners each has).
bool loadModel(const std::string& path, scene::Document& document, std::string* error,
               const std::string& shownName = "", const std::string& embeddedImages = "", int* faces = nullptr);

/// Selects the objects of these names anywhere in the document, or every top-level object when
/// there are none. False with *error set when a name matches no object.
bool selectObjects(scene::Document& document, const std::vector<std::string>& names, std::string* error);

/// The objects that the module unfolds: those with a polygon form among the selected objects
/// and every object below them.
int unfoldableObjects(const scene::Document& document);

/// Extent of the selected objects' polygon forms along x, y and z.
std::array<double, 3> selectionExtent(const scene::Document& document);

}  // namespace job
