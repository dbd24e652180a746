// Project files: the model before the run, its images and the run's settings in one archive,
// read back as they were written, and a file that is damaged, of another version or whose model
// was changed refused with one line naming it, leaving nothing behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include "formats/scene_json.h"
#include "host/edge_marks.h"
#include "job/archive.h"
#include "job/project.h"
#include "support.h"
#include "temp_dir.h"
#include "unzip_all.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::unzipAll;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spill(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

/// A model worth keeping: a cube with an edge marked cut and an object below it, textured by an
/// image beside the model and by another of the same file name in another folder.
std::unique_ptr<scene::Document> keptModel(const TempDir& folder, const TempDir& other) {
  spill(folder.path() / "walls.png", "the walls' image");
  spill(other.path() / "walls.png", "another image of the same name");
  auto d = std::make_unique<scene::Document>();
  auto near = std::make_unique<scene::Material>();
  near->name = "Walls";
  near->texture = "walls.png";
  auto far = std::make_unique<scene::Material>();
  far->name = "Far walls";
  far->texture = (other.path() / "walls.png").string();
  scene::Material* a = d->addMaterial(std::move(near));
  scene::Material* b = d->addMaterial(std::move(far));
  scene::Object* cube = d->append(testing_support::cube());
  cube->selected = true;
  cube->addTag(sdk::kTagTexture, "Texture")->material = a;
  cube->addTag(sdk::kTagEdgeSelection, foldra::kEdgesCut)->selection.add(4 * 2 + 1);
  scene::Object* roof = d->append(testing_support::tetrahedron(), cube);
  roof->addTag(sdk::kTagTexture, "Texture")->material = b;
  return d;
}

/// A run whose every setting differs from its default, optionals set, numbers that do not
/// print short.
job::ProjectRun oddRun() {
  job::ProjectRun run;
  run.modelName = "cube model.json";
  job::Settings& s = run.settings;
  s.layout = job::Layout::Stack;
  s.keepOriginals = true;
  s.materials = false;
  s.pageLimit = false;
  s.pageWidth = 297;
  s.pageHeight = 420.5;
  s.margin = 0.1 + 0.2;
  s.unfold = job::Unfold::LongestEdge;
  s.tabs = false;
  s.tabDepth = 9.25;
  s.foldShut = 0;
  s.bareSeams = true;
  s.scale = 1.0 / 3;
  s.height = 120;
  s.largestSize = 99;
  s.fitSheets = 3;
  s.dpi = 300;
  s.flatFold = 2.5;
  s.fill = false;
  s.labelSize = 3;
  s.overview = false;
  s.dialogPageWidth = 1e-7;
  s.dialogPageHeight = 12345.678;
  s.dialogTabWidth = 2;
  s.dialogFoldShut = 0;
  run.scale = 2.0 / 3;
  run.entries = job::kEntryLayout | job::kEntryTabs;
  return run;
}

void expectSameSettings(const job::Settings& a, const job::Settings& b) {
  EXPECT_EQ(a.layout, b.layout);
  EXPECT_EQ(a.keepOriginals, b.keepOriginals);
  EXPECT_EQ(a.materials, b.materials);
  EXPECT_EQ(a.pageLimit, b.pageLimit);
  EXPECT_EQ(a.pageWidth, b.pageWidth);
  EXPECT_EQ(a.pageHeight, b.pageHeight);
  EXPECT_EQ(a.margin, b.margin);
  EXPECT_EQ(a.unfold, b.unfold);
  EXPECT_EQ(a.tabs, b.tabs);
  EXPECT_EQ(a.tabDepth, b.tabDepth);
  EXPECT_EQ(a.foldShut, b.foldShut);
  EXPECT_EQ(a.bareSeams, b.bareSeams);
  EXPECT_EQ(a.scale, b.scale);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.largestSize, b.largestSize);
  EXPECT_EQ(a.fitSheets, b.fitSheets);
  EXPECT_EQ(a.dpi, b.dpi);
  EXPECT_EQ(a.flatFold, b.flatFold);
  EXPECT_EQ(a.fill, b.fill);
  EXPECT_EQ(a.labelSize, b.labelSize);
  EXPECT_EQ(a.overview, b.overview);
  EXPECT_EQ(a.dialogPageWidth, b.dialogPageWidth);
  EXPECT_EQ(a.dialogPageHeight, b.dialogPageHeight);
  EXPECT_EQ(a.dialogTabWidth, b.dialogTabWidth);
  EXPECT_EQ(a.dialogFoldShut, b.dialogFoldShut);
}

using Entries = std::map<std::string, std::string>;

/// Writes an archive of these entries (project.json first, as ours are); `stored` leaves them
/// uncompressed, so that a test can find an entry's bytes in the file.
void writeArchive(const std::string& path, const Entries& entries, bool stored = false) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr);
  if (entries.count("project.json")) {
    ASSERT_TRUE(job::addArchiveEntry(zip, "project.json", entries.at("project.json"), !stored));
  }
  for (const auto& [name, content] : entries) {
    if (name == "project.json") continue;
    ASSERT_TRUE(job::addArchiveEntry(zip, name, content, !stored));
  }
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

std::uint32_t crcOf(const std::string& bytes) {
  return static_cast<std::uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

/// The project's model changed by `change`, with project.json's checksum made to fit again when
/// `refit`: only the check that the mutation is aimed at can then find it.
Entries withModel(Entries entries, const std::function<void(scene::Document&)>& change, bool refit) {
  std::string error;
  auto model = formats::sceneFromJson(entries.at("model.json"), &error);
  EXPECT_NE(model, nullptr) << error;
  change(*model);
  entries["model.json"] = formats::sceneToJson(*model);
  if (refit) {
    nlohmann::ordered_json head = nlohmann::ordered_json::parse(entries.at("project.json"));
    head["model"]["crc32"] = crcOf(entries["model.json"]);
    entries["project.json"] = head.dump(2);
  }
  return entries;
}

/// The project with project.json changed by `change`.
Entries withHead(Entries entries, const std::function<void(nlohmann::ordered_json&)>& change) {
  nlohmann::ordered_json head = nlohmann::ordered_json::parse(entries.at("project.json"));
  change(head);
  entries["project.json"] = head.dump(2);
  return entries;
}

}  // namespace

TEST(Project, ReadsBackTheModelItsImagesAndEverySetting) {
  TempDir folder, other, out, work;
  const auto model = keptModel(folder, other);
  const job::ProjectRun run = oddRun();
  std::string error;
  const std::string first = out.file("first.foldra");
  ASSERT_TRUE(job::writeProject(*model, folder.path().string(), run, first, &error)) << error;
  EXPECT_EQ(out.names(), (std::vector<std::string>{"first.foldra"})) << "nothing but the project is left";

  const auto entries = unzipAll(first);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries.at("walls.png"), "the walls' image");
  EXPECT_EQ(entries.at("2-walls.png"), "another image of the same name") << "two images of one name stay apart";
  for (const auto& [name, content] : entries) {
    EXPECT_EQ(content.find(folder.path().string()), std::string::npos) << name << " names no folder of this machine";
    EXPECT_EQ(content.find(other.path().string()), std::string::npos) << name;
  }

  job::Project project;
  ASSERT_TRUE(job::readProject(first, work.path().string(), &project, &error)) << error;
  ASSERT_NE(project.model, nullptr);
  // The same document as the scene writer sees it, each texture by its name in the archive.
  auto expected = scene::cloneDocument(*model);
  expected->materials()[0]->texture = "walls.png";
  expected->materials()[1]->texture = "2-walls.png";
  EXPECT_EQ(formats::sceneToJson(*project.model), formats::sceneToJson(*expected));
  EXPECT_TRUE(project.model->objects()[0]->selected) << "the selection of the run is kept";
  EXPECT_EQ(project.textureFolder, work.path().string());
  EXPECT_EQ(slurp(work.path() / "walls.png"), "the walls' image");
  EXPECT_EQ(slurp(work.path() / "2-walls.png"), "another image of the same name");
  EXPECT_EQ(project.run.modelName, run.modelName);
  EXPECT_EQ(project.run.scale, run.scale);
  EXPECT_EQ(project.run.entries, run.entries);
  expectSameSettings(project.run.settings, run.settings);

  // Unset optionals stay unset.
  job::ProjectRun plain;
  plain.modelName = "cube.json";
  ASSERT_TRUE(job::writeProject(*model, folder.path().string(), plain, out.file("plain.foldra"), &error)) << error;
  TempDir work2;
  job::Project again;
  ASSERT_TRUE(job::readProject(out.file("plain.foldra"), work2.path().string(), &again, &error)) << error;
  expectSameSettings(again.run.settings, job::Settings{});
  EXPECT_EQ(again.run.entries, job::kAllEntries);

  // The project read back writes the same bytes, and so does the model written again.
  ASSERT_TRUE(job::writeProject(*project.model, project.textureFolder, project.run, out.file("second.foldra"), &error)) << error;
  ASSERT_TRUE(job::writeProject(*model, folder.path().string(), run, out.file("third.foldra"), &error)) << error;
  const std::string bytes = slurp(first);
  EXPECT_TRUE(slurp(out.file("second.foldra")) == bytes);
  EXPECT_TRUE(slurp(out.file("third.foldra")) == bytes);

  // An image that cannot be read keeps its name in the model and stays out of the archive, as
  // the run that used it did without it.
  fs::remove(other.path() / "walls.png");
  ASSERT_TRUE(job::writeProject(*model, folder.path().string(), run, out.file("missing.foldra"), &error)) << error;
  EXPECT_EQ(unzipAll(out.file("missing.foldra")).count("2-walls.png"), 0u);
  TempDir work3;
  job::Project missing;
  ASSERT_TRUE(job::readProject(out.file("missing.foldra"), work3.path().string(), &missing, &error)) << error;
  EXPECT_EQ(missing.model->materials()[1]->texture, "2-walls.png");
  EXPECT_EQ(work3.names(), (std::vector<std::string>{"walls.png"}));
}

TEST(Project, WritesNothingItWouldNotReadBack) {
  TempDir folder, other, out;
  std::string error;
  const std::string path = out.file("p.foldra");
  struct Case {
    const char* what;
    std::function<void(scene::Document&, job::ProjectRun&)> mutate;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"a point that is no number",
       [](scene::Document& d, job::ProjectRun&) { d.objects()[0]->points[3].y = std::numeric_limits<double>::quiet_NaN(); },
       "not a finite number"},
      {"a margin that is no number",
       [](scene::Document&, job::ProjectRun& r) { r.settings.margin = std::numeric_limits<double>::infinity(); }, "margin"},
      {"a resolution beyond the command line's", [](scene::Document&, job::ProjectRun& r) { r.settings.dpi = 5000; },
       "dpi: at most 2400"},
      {"a scale of nothing", [](scene::Document&, job::ProjectRun& r) { r.scale = 0; }, "the scale"},
      {"a mark past the polygons",
       [](scene::Document& d, job::ProjectRun&) {
         d.objects()[0]->addTag(sdk::kTagEdgeSelection, foldra::kEdgesNoTab)->selection.add(4 * 6);
       },
       "marks edge 24 of object \"Cube\", which has only 6 polygons"},
  };
  for (const Case& c : cases) {
    auto model = keptModel(folder, other);
    job::ProjectRun run;
    c.mutate(*model, run);
    error.clear();
    EXPECT_FALSE(job::writeProject(*model, folder.path().string(), run, path, &error)) << c.what;
    EXPECT_EQ(error.rfind(path, 0), 0u) << c.what << ": " << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    EXPECT_TRUE(out.names().empty()) << c.what << ": nothing half-written";
  }
}

TEST(Project, RefusesWhatIsNotAProjectOfThisVersionOrWhoseModelChanged) {
  TempDir folder, other, out;
  const auto model = keptModel(folder, other);
  std::string error;
  const std::string good = out.file("good.foldra");
  ASSERT_TRUE(job::writeProject(*model, folder.path().string(), job::ProjectRun{}, good, &error)) << error;
  const Entries sound = unzipAll(good);
  ASSERT_EQ(sound.size(), 4u);

  struct Case {
    const char* what;
    std::function<void(const std::string& path)> make;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"a text file", [](const std::string& p) { spill(p, "a shopping list\n"); }, " is not a Foldra project"},
      {"an empty file", [](const std::string& p) { spill(p, ""); }, " is not a Foldra project"},
      {"an archive of something else",
       [&](const std::string& p) { writeArchive(p, {{"model.json", sound.at("model.json")}}); }, " is not a Foldra project"},
      {"another format's description",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["format"] = "foldra-scene"; })); },
       " is not a Foldra project"},
      {"a later version",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["version"] = 2; })); },
       " is a project of version 2; this Foldra reads version 1"},
      {"a truncated file",
       [&](const std::string& p) {
         const std::string bytes = slurp(good);
         spill(p, bytes.substr(0, bytes.size() / 2));
       },
       ": the archive is truncated or corrupt"},
      {"a model whose bytes were damaged in the archive",
       [&](const std::string& p) {
         writeArchive(p, sound, true);
         std::string bytes = slurp(p);
         // Nested lists stand only in the model.
         const auto at = bytes.find("[[");
         ASSERT_NE(at, std::string::npos);
         bytes[at + 2] = bytes[at + 2] == '7' ? '8' : '7';
         spill(p, bytes);
       },
       ": the archive is truncated or corrupt (model.json does not read back whole)"},
      {"a model changed after the project was saved",
       [&](const std::string& p) {
         writeArchive(p, withModel(sound, [](scene::Document& d) { d.objects()[0]->points[0].x += 1; }, false));
       },
       ": its model was changed after the project was saved: its edits would fall on other edges"},
      {"a model with a polygon more, its checksum made to fit",
       [&](const std::string& p) {
         writeArchive(p, withModel(sound, [](scene::Document& d) { d.objects()[0]->polygons.push_back({0, 1, 2, 2}); }, true));
       },
       ": its model was changed after the project was saved"},
      {"a mark past the polygons",
       [&](const std::string& p) {
         writeArchive(p, withModel(sound, [](scene::Document& d) {
                        d.objects()[0]->addTag(sdk::kTagEdgeSelection, foldra::kEdgesTab)->selection.add(4 * 40 + 2);
                      }, true));
       },
       ": \"Foldra tab\" marks edge 162 of object \"Cube\", which has only 6 polygons"},
      {"a texture outside the project",
       [&](const std::string& p) {
         writeArchive(p, withModel(sound, [](scene::Document& d) { d.materials()[1]->texture = "../../etc/passwd"; }, true));
       },
       ": the material \"Far walls\" names a texture outside the project"},
      {"a resolution the command line refuses",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["settings"]["dpi"] = 5000; })); },
       ": the setting dpi: at most 2400"},
      {"a margin that is text",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["settings"]["margin"] = "wide"; })); },
       ": the setting \"margin\" is not a finite number"},
      {"a setting this program does not have",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["settings"]["glitter"] = true; })); },
       ": \"glitter\" is not a setting this Foldra knows"},
      {"a setting left out",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["settings"].erase("dpi"); })); },
       ": the setting \"dpi\" is missing"},
      {"a scale below nothing",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["scale"] = -1.5; })); },
       ": the scale is not a number greater than 0"},
      {"entries the dialog does not have",
       [&](const std::string& p) { writeArchive(p, withHead(sound, [](auto& h) { h["entries"] = 1u << 20; })); },
       ": the dialog entries are not ones this Foldra makes"},
  };
  for (const Case& c : cases) {
    TempDir bad, work;
    const std::string path = bad.file("bad.foldra");
    c.make(path);
    job::Project project;
    error.clear();
    EXPECT_FALSE(job::readProject(path, work.path().string(), &project, &error)) << c.what;
    EXPECT_EQ(error.rfind(path + c.message, 0), 0u) << c.what << ": " << error;
    EXPECT_EQ(project.model, nullptr) << c.what;
    EXPECT_TRUE(work.names().empty()) << c.what << ": no image is left behind";
  }
  // The sound project still reads: the mutations above are what they refuse.
  TempDir work;
  job::Project project;
  EXPECT_TRUE(job::readProject(good, work.path().string(), &project, &error)) << error;
}

TEST(Project, EveryCutOrDamagedByteIsRefusedOrReadsTheSameModel) {
  TempDir folder, other, out;
  const auto model = keptModel(folder, other);
  std::string error;
  const std::string good = out.file("good.foldra");
  ASSERT_TRUE(job::writeProject(*model, folder.path().string(), job::ProjectRun{}, good, &error)) << error;
  const std::string bytes = slurp(good);
  auto renamed = scene::cloneDocument(*model);
  renamed->materials()[0]->texture = "walls.png";
  renamed->materials()[1]->texture = "2-walls.png";
  const std::string expected = formats::sceneToJson(*renamed);
  const auto check = [&](const std::string& damaged, const std::string& what) {
    TempDir bad, work;
    const std::string path = bad.file("bad.foldra");
    spill(path, damaged);
    job::Project project;
    error.clear();
    if (job::readProject(path, work.path().string(), &project, &error)) {
      // A byte that no check covers (a date, a comment, an unused field) changes nothing read.
      ASSERT_NE(project.model, nullptr) << what;
      EXPECT_EQ(formats::sceneToJson(*project.model), expected) << what;
      return;
    }
    EXPECT_EQ(error.rfind(path, 0), 0u) << what << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << what << ": one line";
    EXPECT_EQ(project.model, nullptr) << what;
    EXPECT_TRUE(work.names().empty()) << what;
  };
  for (std::size_t size = 0; size < bytes.size(); size += 5) check(bytes.substr(0, size), "cut at " + std::to_string(size));
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    std::string damaged = bytes;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
    check(damaged, "byte " + std::to_string(at) + " changed");
  }
}
