// A project file (NAME.foldra): the model as it was before the run, with its materials, texture
// images and the edges a person marked on it, the settings, the scale and the dialog entries of
// the run, so that running it again gives the same pieces and the same pattern byte for byte.
//
// The file is a ZIP archive (stored with fixed dates, so that the same project gives the same
// bytes) of:
//
//   project.json  {"format": "foldra project", "version": 1,
//                  "model": {"name": "house.obj", "crc32": <of model.json's bytes>,
//                            "objects": [{"name", "polygons", "points"}, ...]},
//                  "settings": {...}, "scale": <mm per model unit>, "entries": <Entry bits>,
//                  "placements": [{"piece", "sheet", "rotation", "x", "y"}],  (optional: pieces
//                                 placed by hand; sheet from 0, rotation in radians, offset in mm)
//                  "studio": {the studio's form of the run, with the edges marked}}  (optional)
//   model.json    the model as our native scene, each texture named by its name in the archive
//   the images    the texture images the model's materials name, by their file names (numbered
//                 where two images of different folders share one)
//
// The model's objects are listed in hierarchy order, so that a model file that was changed
// after the project was saved is refused instead of its edits landing on other edges.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include <vector>

#include "job/settings.h"
#include "scene/document.h"

namespace job {

/// The file's format name and the version this program reads and writes.
inline constexpr const char* kProjectFormat = "foldra project";
inline constexpr int kProjectVersion = 1;
/// The extension of project files.
inline constexpr const char* kProjectExtension = ".foldra";

/// What a project holds besides its model.
struct ProjectRun {
  /// The model's file name as it was opened ("house.obj"); its stem titles the pattern.
  std::string modelName;
  Settings settings;
  /// Millimetres on paper per model unit, as the run used it (found by settings.fitSheets
  /// where that was asked).
  double scale = 1;
  /// The dialog entries the run made (Entry bits).
  unsigned entries = kAllEntries;
  /// Pieces placed on the sheets by hand (pattern::PatternOptions::placed).
  std::vector<pattern::Position> placements;
  /// The studio's form of the run as its page sent it, with the edges the person marked
  /// (an object, or null for a project the studio did not write). The program does not read it.
  nlohmann::json studio;
};

/// A project as it was read.
struct Project {
  /// The model before the run: its objects with their tags (edge marks among them), materials
  /// and the selection the run had.
  std::unique_ptr<scene::Document> model;
  /// The folder the model's texture names are relative to: where the images were extracted.
  std::string textureFolder;
  ProjectRun run;
};

/// True for a file of a project's name (NAME.foldra, any case).
bool isProjectFile(const std::string& path);

/// Writes the project of `model` (the document before the run; relative texture paths are
/// relative to `textureFolder`) and `run` to `path`, under a temporary name moved into place when
/// complete: nothing half-written on failure. An image that cannot be read keeps its name in the
/// model but is not in the archive, as the run that used it did without it. False with *error
/// set (naming `path`) for what readProject would refuse: a number of the model or the settings
/// that is not finite, a setting out of range, an edge mark on an edge the model does not have.
bool writeProject(const scene::Document& model, const std::string& textureFolder, const ProjectRun& run,
                  const std::string& path, std::string* error);

/// Reads the project at `path`, extracting its images into `work` (an existing folder, empty or
/// holding nothing of these names). False with *error set to one line naming the file when it is
/// not a project, of another version, truncated or corrupt, when its model does not match what
/// the project says of it, when an edge mark names an edge the model does not have, or when a
/// setting is not valid; then *project is unchanged and nothing is left in `work`.
bool readProject(const std::string& path, const std::string& work, Project* project, std::string* error);

}  // namespace job
