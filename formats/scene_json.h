// Our native scene files: a whole document as JSON.
//
//   {"format": "foldra-scene", "version": 1,
//    "time": {"current": [n, d], "fps": 30, "minimum": [n, d], "maximum": [n, d],
//             "loopStart": [n, d], "loopEnd": [n, d]},
//    "materials": [{"name", "type": "standard", "color": [r, g, b], "texture": "...", "values": {}}],
//    "objects": [{"name", "type": "polygon" | "null" | "light" | "cube" | "plane" | "sphere",
//                 "selected", "editorVisibility", "renderVisibility",
//                 "points": [[x, y, z], ...], "polygons": [[a, b, c, d], ...],
//                 "tags": [...], "tracks": [...], "children": [...], plus the primitive's own
//                 parameters ("size", "segments", "width", "depth", "radius", "brightness")}]}
//
// Tags: {"type": "texture", "name", "material": <index or null>, "restriction"},
// {"type": "uvw", "name", "uvw": [[[u, v, w] x 4] per polygon]}, {"type": "selection", "name",
// "polygons": [sorted indices]}, {"type": "smoothing", "name", "angle"}, {"type": "annotation",
// "name", "text"}. Tracks: {"parameter": 901, "keys": [{"time": [n, d], "value", "interpolation"}]}.
// Times are exact fractions [numerator, denominator].
#pragma once

#include <memory>
#include <string>

#include "scene/document.h"

namespace formats {

/// The document as JSON text; the same document always gives the same text. The structure
/// (objects, materials, tags, tracks) has one member per line, indented; every list of data
/// (points, polygons, texture coordinates, selections) stands on one line. Numbers take the
/// shortest form that reads back as the same value. Text that is not UTF-8 is written with
/// U+FFFD for each run of bytes that does not form a character. A NaN or infinite number is
/// written as null, which sceneFromJson refuses (saveScene refuses such a document).
std::string sceneToJson(const scene::Document& document);
/// Reads JSON text; null with *error saying what and where when it is not a scene.
std::unique_ptr<scene::Document> sceneFromJson(const std::string& text, std::string* error);

/// Loads a scene file; null with *error naming the file and the problem.
std::unique_ptr<scene::Document> loadScene(const std::string& path, std::string* error);
/// Saves a scene file, written as it is produced (completely or not at all); false with *error
/// naming the file and the object or material when a number is NaN or infinite.
bool saveScene(const scene::Document& document, const std::string& path, std::string* error);

}  // namespace formats
