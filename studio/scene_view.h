// What the browser draws of a document: triangles with material colours, glue tabs apart, and
// the editor-visibility keys of the animation tracks, so the page can show any frame.
#pragma once

#include <nlohmann/json.hpp>
#include <set>

#include "scene/document.h"

namespace studio {

/// The document as JSON for the viewer:
///   {"materials": [{"name", "color": [r, g, b]}],
///    "time": {"fps", "minimum": [n, d], "maximum": [n, d]},
///    "objects": [{"name", "parent": index or -1, "piece": bool, "visibility": 0 on | 1 off | 2 inherit,
///                 "keys": [[n, d, value, interpolation], ...],
///                 "points": [x, y, z, ...], "triangles": [a, b, c, ...], "materials": [index or -1 per triangle],
///                 "tabs": [a, b, c, ...]}]}
/// Polygon objects and primitives (in their polygon form) carry geometry; other objects only
/// their place in the hierarchy. For objects in `pieces`, four-cornered polygons are glue tabs;
/// elsewhere they are drawn as two triangles. Coordinates that are not finite numbers are left out
/// with the triangles that use them.
nlohmann::json sceneView(const scene::Document& document, const std::set<const scene::Object*>& pieces);

}  // namespace studio
