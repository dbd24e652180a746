// Native scene files and atomic writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "formats/files.h"
#include "formats/scene_json.h"
#include "support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

/// A document with every kind of object, tag, material and track.
std::unique_ptr<scene::Document> everything() {
  auto d = std::make_unique<scene::Document>();
  d->time.fps = 24;
  d->time.maximum = {47, 24};
  auto m = std::make_unique<scene::Material>();
  m->name = "Paper";
  m->color = {0.1, 0.2, 0.3};
  m->texture = "paper.png";
  m->values["specular"] = 0.5;
  scene::Material* paper = d->addMaterial(std::move(m));
  scene::Object* o = d->append(cube());
  o->points[0].x = 0.1f;
  o->editorVisibility = sdk::kVisibilityOff;
  scene::Tag* t = o->addTag(sdk::kTagTexture, "Texture");
  t->material = paper;
  t->restriction = "Sides";
  o->addTag(sdk::kTagTexture, "Loose");
  o->addTag(sdk::kTagUVW, "UVW")->uvw = {{{0.25f, 0.5f, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
  scene::Tag* s = o->addTag(sdk::kTagPolygonSelection, "Sides");
  s->selection.add(3);
  s->selection.add(1);
  o->addTag(sdk::kTagSmoothing, "Smoothing")->angle = 40;
  o->addTag(sdk::kTagAnnotation, "Note")->text = "glue last";
  o->addTag(sdk::kTagEdgeSelection, "Foldra cut")->selection.add(4 * 2 + 1);
  auto track = std::make_unique<scene::Track>();
  track->parameter = sdk::kObjectEditorVisibility;
  track->curve = std::make_unique<scene::Curve>();
  scene::Key* k = track->curve->keyAt({1, 3});
  k->value = 1;
  k->interpolation = sdk::kInterpolationStep;
  o->tracks.push_back(std::move(track));
  scene::Object* group = d->append(std::make_unique<scene::Object>(sdk::kObjectNull));
  group->name = "Group";
  auto sphere = std::make_unique<scene::Object>(sdk::kObjectSphere);
  sphere->primitive.radius = 3;
  sphere->primitive.sphereSegments = 12;
  d->append(std::move(sphere), group);
  auto plane = std::make_unique<scene::Object>(sdk::kObjectPlane);
  plane->primitive.planeSegments = {2, 3};
  d->append(std::move(plane), group);
  auto light = std::make_unique<scene::Object>(sdk::kObjectLight);
  light->primitive.brightness = 0.75;
  d->append(std::move(light));
  auto box = std::make_unique<scene::Object>(sdk::kObjectCube);
  box->primitive.size = {1, 2, 3};
  d->append(std::move(box));
  return d;
}

std::string temporaryFolder() {
  const fs::path p = fs::temp_directory_path() / ("foldra-formats-" + std::to_string(getpid()));
  fs::create_directories(p);
  return p.string();
}

}  // namespace

TEST(SceneFiles, RoundTripGivesAnEqualDocument) {
  auto d = everything();
  const std::string text = formats::sceneToJson(*d);
  std::string error;
  auto back = formats::sceneFromJson(text, &error);
  ASSERT_NE(back, nullptr) << error;
  EXPECT_EQ(formats::sceneToJson(*back), text);
  const scene::Object& o = *back->objects()[0];
  EXPECT_EQ(o.points[0].x, 0.1f) << "floats are written so that they read back exactly";
  EXPECT_NE(text.find("0.1,"), std::string::npos);
  EXPECT_EQ(o.tag(sdk::kTagTexture, 0)->material, back->materials()[0].get());
  EXPECT_EQ(o.tag(sdk::kTagTexture, 1)->material, nullptr);
  EXPECT_TRUE(o.tag(sdk::kTagPolygonSelection, 0)->selection.contains(3));
  ASSERT_NE(o.tag(sdk::kTagEdgeSelection, 0), nullptr) << "edge selections are kept apart from polygon selections";
  EXPECT_TRUE(o.tag(sdk::kTagEdgeSelection, 0)->selection.contains(9));
  EXPECT_EQ(o.tag(sdk::kTagPolygonSelection, 1), nullptr);
  EXPECT_EQ(back->objects()[1]->children.size(), 2u);
  EXPECT_TRUE(back->time.maximum == (scene::Time{47, 24}));
}

TEST(SceneFiles, EveryMistakeIsNamedWithItsPlace) {
  const std::string good = formats::sceneToJson(*everything());
  struct Mutation {
    std::string from, to, message;
  };
  const std::vector<Mutation> mutations = {
      {"\"foldra-scene\"", "\"something\"", "not a scene file"},
      {"\"version\": 1", "\"version\": 2", "version: unsupported version"},
      {"\"type\": \"cube\"", "\"type\": \"teapot\"", "objects[3].type: unknown object type \"teapot\""},
      {"\"material\": 0", "\"material\": 5", "objects[0].tags[0].material: material 5 does not exist"},
      {"\"type\": \"smoothing\"", "\"type\": \"sparkle\"", "objects[0].tags[4].type: unknown tag type"},
      {"\"fps\": 24", "\"fps\": 0", "time.fps: the frame rate must be positive"},
  };
  for (const Mutation& m : mutations) {
    std::string text = good;
    const auto at = text.find(m.from);
    ASSERT_NE(at, std::string::npos) << m.from;
    text.replace(at, m.from.size(), m.to);
    std::string error;
    EXPECT_EQ(formats::sceneFromJson(text, &error), nullptr) << m.to;
    EXPECT_NE(error.find(m.message), std::string::npos) << error;
  }
  std::string error;
  auto broken = everything();
  broken->objects()[0]->polygons[0].d = 99;
  EXPECT_EQ(formats::sceneFromJson(formats::sceneToJson(*broken), &error), nullptr);
  EXPECT_NE(error.find("objects[0].polygons[0]: point index 99 out of range (the object has 8 points)"), std::string::npos)
      << error;
  EXPECT_EQ(formats::sceneFromJson("{\"format\": \"foldra-scene\", ", &error), nullptr);
  EXPECT_NE(error.find("not valid JSON"), std::string::npos) << error;
  EXPECT_EQ(formats::sceneFromJson("{\"format\":\"foldra-scene\",\"version\":1,\"objects\":[{\"type\":\"polygon\","
                                   "\"points\":[[1e39,0,0]],\"polygons\":[]}]}",
                                   &error),
            nullptr);
  EXPECT_NE(error.find("objects[0].points[0][0]: number out of range"), std::string::npos) << error;
}

TEST(SceneFiles, LoadAndSaveNameTheFile) {
  const std::string folder = temporaryFolder();
  std::string error;
  EXPECT_EQ(formats::loadScene(folder + "/missing.json", &error), nullptr);
  EXPECT_EQ(error, folder + "/missing.json: cannot be read");
  std::ofstream(folder + "/empty.json").close();
  EXPECT_EQ(formats::loadScene(folder + "/empty.json", &error), nullptr);
  EXPECT_EQ(error, folder + "/empty.json: the file is empty");
  ASSERT_TRUE(formats::saveScene(*everything(), folder + "/scene.json", &error)) << error;
  EXPECT_NE(formats::loadScene(folder + "/scene.json", &error), nullptr) << error;
  EXPECT_FALSE(formats::saveScene(*everything(), folder + "/no/such/folder/scene.json", &error));
  EXPECT_FALSE(fs::exists(folder + "/no"));
  std::size_t files = 0;
  for (auto& entry : fs::directory_iterator(folder)) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 2u) << "no temporary file is left behind";
  fs::remove_all(folder);
}

TEST(StagedFiles, NothingAppearsUntilCommitAndNothingStaysWithoutIt) {
  const std::string folder = temporaryFolder();
  {
    formats::StagedFiles files;
    std::ofstream(files.stage(folder + "/a.txt")) << "a";
    std::ofstream(files.stage(folder + "/b.txt")) << "b";
    EXPECT_FALSE(fs::exists(folder + "/a.txt"));
  }
  EXPECT_TRUE(fs::is_empty(folder)) << "abandoned files are removed";
  formats::StagedFiles files;
  std::ofstream(files.stage(folder + "/a.txt")) << "a";
  std::string error;
  ASSERT_TRUE(files.commit(&error)) << error;
  EXPECT_TRUE(fs::exists(folder + "/a.txt"));
  fs::remove_all(folder);
}
