// A module's resource files: its string table, its dialog descriptions and its images. They live
// in the folder "res" beside the module file:
//   res/strings.json        {"strings": {"<id>": "<text>", ...}}
//   res/dialogs/<id>.json   a dialog description (see DialogDescription)
//   res/<image>             images named by the module, TIFF
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace runtime {

/// An image as RGBA bytes, rows from the top.
struct Image {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> rgba;
};

/// One gadget of a dialog description.
struct GadgetDescription {
  enum class Kind { Check, Choice, Text, Integer, Button };
  std::int32_t id = 0;
  Kind kind = Kind::Text;
  std::string label;
  /// Choice gadgets: the entries' values and labels, in order.
  std::vector<std::pair<std::int32_t, std::string>> entries;
};

/// A dialog description: {"id": 10001, "title": "...", "gadgets": [{"id": 10003,
/// "kind": "check" | "choice" | "text" | "integer" | "button", "label": "...",
/// "entries": [{"value": 6050, "label": "..."}]}]}.
struct DialogDescription {
  std::int32_t id = 0;
  std::string title;
  std::vector<GadgetDescription> gadgets;
};

struct Resources {
  std::map<std::int32_t, std::string> strings;
  std::map<std::int32_t, DialogDescription> dialogs;
  std::string folder;  // the "res" folder they were read from
};

/// Reads the resources of the module in `moduleFolder`. False with *error set when the folder
/// or its string table is missing or a file is malformed.
bool loadResources(const std::string& moduleFolder, Resources* resources, std::string* error);

/// Reads a TIFF image; false with *error set when it cannot.
bool loadImage(const std::string& path, Image* image, std::string* error);

}  // namespace runtime
