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

/// The median length of the selected objects' polygon edges in model units (each edge of a
/// polygon counted once per polygon); 0 when they have none.
double medianEdge(const scene::Document& document);

/// Paper edges shorter than this are hard to cut, crease and glue by hand (millimetres).
inline constexpr double kShortestEdgeToBuild = 3;

/// The warning a builder needs when the model's median edge, `medianModelEdge` model units, is
/// under kShortestEdgeToBuild on paper at `scale` millimetres per unit: how long it is and the
/// scale (and the model's height at it) that would make it that long. Empty when the edges are
/// long enough.
std::string shortEdgesWarning(double medianModelEdge, double scale, double modelHeight);

}  // namespace job
