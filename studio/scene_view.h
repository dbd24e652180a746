// What the browser draws of a document: triangles with material colours, glue tabs apart, and
// the editor-visibility keys of the animation tracks, so the page can show any frame.
#pragma once

#include <nlohmann/json.hpp>
#include <map>

#include "scene/document.h"

namespace studio {

/// The document as JSON for the viewer:
///   {"materials": [{"name", "color": [r, g, b]}],
///    "time": {"fps", "minimum": [n, d], "maximum": [n, d]},
///    "objects": [{"name", "parent": index or -1, "piece": index in the run's pattern or -1, "visibility": 0 on | 1 off | 2 inherit,
///                 "keys": [[n, d, value, interpolation], ...],
///                 "points": [x, y, z, ...], "triangles": [a, b, c, ...], "materials": [index or -1 per triangle],
///                 "tabs": [a, b, c, ...]}]}
/// Polygon objects and primitives (in their polygon form) carry geometry; other objects only
/// their place in the hierarchy. Materials with a texture name it by its index ("texture"); the
/// page fetches the image from /api/texture/N. For objects in `pieces` (the run's pieces with
/// their index in the pattern), four-cornered polygons are glue tabs;
/// elsewhere they are drawn as two triangles. Coordinates that are not finite numbers are left out
/// with the triangles that use them.
nlohmann::json sceneView(const scene::Document& document, const std::map<const scene::Object*, int>& pieces);

}  // namespace studio
