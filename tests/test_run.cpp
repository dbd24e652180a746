// Whole runs through our host: scene output, layouts, materials, undo.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "formats/scene_json.h"
#include "output/output.h"
#include "support.h"

using namespace testing_support;
using foldra::gt;
using foldra::run;
using foldra::Vec3;

namespace {

std::string snapshot(const scene::Document& d) { return formats::sceneToJson(d); }

/// The objects a run added: those not in `before`.
std::vector<scene::Object*> added(const scene::Document& d, const std::vector<scene::Object*>& before) {
  std::vector<scene::Object*> out;
  for (const auto& o : d.objects()) {
    if (std::find(before.begin(), before.end(), o.get()) == before.end()) out.push_back(o.get());
  }
  return out;
}

int triangles(const scene::Object& o) {
  int n = 0;
  for (const auto& p : o.polygons) n += scene::isTriangle(p) ? 1 : 0;
  return n;
}

struct Box {
  double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300, minZ = 1e300, maxZ = -1e300;
  double centreX() const { return (minX + maxX) / 2; }
  double centreY() const { return (minY + maxY) / 2; }
};

Box box(const scene::Object& o) {
  Box b;
  for (const auto& p : o.points) {
    b.minX = std::min<double>(b.minX, p.x);
    b.maxX = std::max<double>(b.maxX, p.x);
    b.minY = std::min<double>(b.minY, p.y);
    b.maxY = std::max<double>(b.maxY, p.y);
    b.minZ = std::min<double>(b.minZ, p.z);
    b.maxZ = std::max<double>(b.maxZ, p.z);
  }
  return b;
}

/// Pieces made by hand: each a single flat triangle (corners given) in a container of its own.
struct HandPieces {
  std::vector<std::unique_ptr<gt>> keep;
  explicit HandPieces(const std::vector<std::array<Vec3, 3>>& flat) {
    foldra::clearContainers();
    foldra::clearTriangleLists();
    run.gtvec.emplace_back();
    for (const auto& corners : flat) {
      auto t = std::make_unique<gt>(0);
      for (int k = 0; k < 3; ++k) t->p[k] = corners[static_cast<std::size_t>(k)];
      auto c = std::make_unique<foldra::gtc>();
      t->containerIndex = static_cast<int>(run.containers.size());
      c->addTriangle(t.get());
      run.containers.push_back(std::move(c));
      run.gtvec[0].push_back(std::move(t));
    }
  }
};

}  // namespace

TEST(Run, CubeGivesFlatPiecesAndOneUndoStep) {
  LinkedHost h;
  h.add(cube());
  const std::string before = snapshot(h.document());
  h.execute(foldra::Settings{});
  const auto pieces = added(h.document(), {});
  ASSERT_EQ(static_cast<int>(pieces.size()), validPieces());
  int allTriangles = 0;
  std::size_t piece = 0;
  for (std::size_t i = 0; i < run.containers.size(); ++i) {
    if (!run.containers[i]->valid) continue;
    // The last piece drawn stands first.
    const scene::Object& o = *pieces[pieces.size() - 1 - piece++];
    const int t = static_cast<int>(run.containers[i]->triangles.size());
    const int g = foldra::countContainerLugs(static_cast<int>(i));
    EXPECT_EQ(static_cast<int>(o.points.size()), 3 * t + 4 * g);
    EXPECT_EQ(static_cast<int>(o.polygons.size()), t + g);
    EXPECT_EQ(triangles(o), t);
    for (const auto& p : o.points) EXPECT_EQ(p.z, 0.0f);
    allTriangles += t;
  }
  EXPECT_EQ(allTriangles, 12);
  EXPECT_EQ(h.document().findObject("Cube"), nullptr) << "the original is removed";
  const std::string after = snapshot(h.document());
  EXPECT_EQ(h.document().undoCount(), 1u);
  ASSERT_TRUE(h.document().undo());
  EXPECT_EQ(snapshot(h.document()), before);
  ASSERT_TRUE(h.document().redo());
  EXPECT_EQ(snapshot(h.document()), after);
  EXPECT_TRUE(h.host.console().empty()) << "with the trace switches off a run prints nothing";
  EXPECT_EQ(h.host.looseDocuments(), 0u) << "intake's copies are released after the run";
  EXPECT_EQ(h.host.events().redraws, 1);
}

TEST(Run, NothingToDoLeavesTheDocumentAlone) {
  for (bool selectLight : {false, true}) {
    LinkedHost h;
    h.add(cube())->selected = false;
    auto light = std::make_unique<scene::Object>(sdk::kObjectLight);
    light->selected = selectLight;
    h.add(std::move(light));
    const std::string before = snapshot(h.document());
    h.execute(foldra::Settings{});
    EXPECT_EQ(snapshot(h.document()), before);
    EXPECT_EQ(h.document().undoCount(), 0u);
  }
}

TEST(Run, RemovesSelectedChildrenAndOneUndoBringsAllBack) {
  LinkedHost h;
  scene::Object* parent = h.add(cube());
  h.document().append(tetrahedron(), parent);     // selected child
  h.document().append(icosphere(0), parent)->selected = false;  // unselected child goes with its parent
  h.add(grid(1, 1))->selected = false;
  const std::string before = snapshot(h.document());
  h.execute(foldra::Settings{});
  EXPECT_EQ(h.document().findObject("Cube"), nullptr);
  EXPECT_EQ(h.document().findObject("Tetrahedron"), nullptr);
  EXPECT_EQ(h.document().findObject("Icosphere"), nullptr);
  EXPECT_NE(h.document().findObject("Grid"), nullptr);
  ASSERT_TRUE(h.document().undo());
  EXPECT_EQ(snapshot(h.document()), before);
}

TEST(Run, KeepingTheOriginalsAndRunningTwice) {
  LinkedHost h;
  h.add(icosphere(1));
  foldra::Settings s;
  s.Originalflag = false;
  h.execute(s);
  const auto first = added(h.document(), {h.document().findObject("Icosphere")});
  ASSERT_FALSE(first.empty());
  EXPECT_NE(h.document().findObject("Icosphere"), nullptr);
  std::string firstPieces;
  for (const auto* o : first) firstPieces += formats::sceneToJson(*scene::copySelection(h.document(), {const_cast<scene::Object*>(o)}));
  // The second run starts from nothing of the first: it gives the same pieces again.
  std::vector<scene::Object*> before;
  for (const auto& o : h.document().objects()) before.push_back(o.get());
  h.execute(s);
  const auto second = added(h.document(), before);
  ASSERT_EQ(second.size(), first.size());
  std::string secondPieces;
  for (const auto* o : second) secondPieces += formats::sceneToJson(*scene::copySelection(h.document(), {const_cast<scene::Object*>(o)}));
  EXPECT_EQ(secondPieces, firstPieces);
}

TEST(Run, RowLayoutSpacesPiecesByTheirWidths) {
  LinkedHost h;
  HandPieces pieces({{Vec3{0, 0, 0}, {10, 0, 0}, {0, 4, 0}}, {Vec3{0, 0, 0}, {20, 0, 0}, {0, 6, 0}}});
  foldra::settings.Materialflag = false;
  run.activeDocument = foldra::host::api().activeDocument();
  foldra::drawContainer(foldra::kLayoutRow);
  ASSERT_EQ(h.document().objects().size(), 2u);
  EXPECT_NEAR(box(*h.document().objects()[1]).centreX(), 0, 1e-6);
  EXPECT_NEAR(box(*h.document().objects()[0]).centreX(), 16.5, 1e-6);
  EXPECT_NEAR(box(*h.document().objects()[0]).centreY(), 0, 1e-6);
}

TEST(Run, StackLayoutPutsPiecesOneBehindTheOther) {
  LinkedHost h;
  HandPieces pieces({{Vec3{0, 0, 0}, {10, 0, 0}, {0, 4, 0}}, {Vec3{0, 0, 0}, {20, 0, 0}, {0, 6, 0}}, {Vec3{0, 0, 0}, {3, 0, 0}, {0, 3, 0}}});
  foldra::settings.Materialflag = false;
  run.activeDocument = foldra::host::api().activeDocument();
  foldra::drawContainer(foldra::kLayoutStack);
  ASSERT_EQ(h.document().objects().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const Box b = box(*h.document().objects()[2 - i]);
    EXPECT_EQ(b.minZ, 100.0 * static_cast<double>(i));
    EXPECT_EQ(b.maxZ, 100.0 * static_cast<double>(i));
    EXPECT_NEAR(b.centreX(), 0, 1e-6);
    EXPECT_NEAR(b.centreY(), 0, 1e-6);
  }
}

TEST(Run, AnimationShowsOnePiecePerFrameAndUndoRestoresTheTimeline) {
  for (int count : {1, 3}) {
    LinkedHost h;
    std::vector<std::array<Vec3, 3>> flat;
    for (int i = 0; i < count; ++i) flat.push_back({Vec3{0, 0, 0}, {4.0 + i, 0, 0}, {0, 2, 0}});
    HandPieces pieces(flat);
    foldra::settings.Materialflag = false;
    const scene::TimeSettings timeline = h.document().time;
    auto& api = foldra::host::api();
    run.activeDocument = api.activeDocument();
    api.startUndo(run.activeDocument);
    foldra::drawContainer(foldra::kLayoutAnimation);
    api.endUndo(run.activeDocument);
    const scene::Document& d = h.document();
    ASSERT_EQ(static_cast<int>(d.objects().size()), count);
    EXPECT_EQ(d.time.fps, count);
    EXPECT_TRUE(d.time.maximum == (scene::Time{count - 1, count}));
    EXPECT_TRUE(d.time.loopMaximum == (scene::Time{count - 1, count}));
    for (int frame = 0; frame < count; ++frame) {
      for (int piece = 0; piece < count; ++piece) {
        const scene::Object& o = *d.objects()[static_cast<std::size_t>(count - 1 - piece)];
        const int expected = piece == frame ? sdk::kVisibilityOn : sdk::kVisibilityOff;
        EXPECT_EQ(o.visibilityAt(sdk::kObjectEditorVisibility, {frame, count}), expected) << frame << " " << piece;
        EXPECT_EQ(o.visibilityAt(sdk::kObjectRenderVisibility, {frame, count}), expected);
      }
    }
    if (count == 3) {
      // Piece 0: hidden at frames 2 and 1, shown at 0.
      const scene::Object& first = *d.objects()[2];
      ASSERT_EQ(first.tracks.size(), 2u);
      const auto& keys = first.tracks[0]->curve->keys;
      ASSERT_EQ(keys.size(), 3u);
      EXPECT_EQ(keys[0]->value, 0);
      EXPECT_EQ(keys[1]->value, 1);
      EXPECT_EQ(keys[2]->value, 1);
      EXPECT_EQ(keys[0]->interpolation, sdk::kInterpolationStep);
    }
    ASSERT_TRUE(h.document().undo());
    EXPECT_TRUE(h.document().time == timeline);
    EXPECT_TRUE(h.document().objects().empty());
  }
}

TEST(Run, OutOfRangeLayoutValueAnimates) {
  EXPECT_EQ(foldra::layoutMode(0), 0);
  EXPECT_EQ(foldra::layoutMode(2), 2);
  EXPECT_EQ(foldra::layoutMode(1), 1);
  EXPECT_EQ(foldra::layoutMode(5), 1);
  EXPECT_EQ(foldra::layoutMode(-1), 1);
}

TEST(Run, FlatMeshPointsPolygonsAndTabs) {
  LinkedHost h;
  HandPieces pieces({{Vec3{0, 0, 0}, {4, 0, 0}, {0, 2, 0}}});
  foldra::settings.Materialflag = false;
  run.activeDocument = foldra::host::api().activeDocument();
  gt& t = *run.gtvec[0][0];
  t.placedLugs[1] = {Vec3{3, 2, 0}, Vec3{1, 3, 0}};  // tab on side 1 (corner 1 to corner 2)
  auto* object = foldra::createContainerObject(1, 1);
  ASSERT_TRUE(foldra::drawContainerMesh(object, Vec3{10, 0, 5}, 1, 0));
  const scene::Object& o = *h.document().objects().front();
  ASSERT_EQ(o.points.size(), 7u);
  // Centred on the box 0..4 x 0..2 (the tab did not enter the box here), then offset.
  EXPECT_EQ(o.points[0], (scene::Point{8, -1, 5}));
  EXPECT_EQ(o.points[1], (scene::Point{12, -1, 5}));
  EXPECT_EQ(o.points[2], (scene::Point{8, 1, 5}));
  EXPECT_EQ(o.polygons[0], (scene::Polygon{0, 1, 2, 2}));
  EXPECT_EQ(o.points[3], o.points[2]) << "the tab runs from corner 2";
  EXPECT_EQ(o.points[4], o.points[1]) << "back to corner 1";
  EXPECT_EQ(o.points[5], (scene::Point{9, 2, 5})) << "then tab point 1";
  EXPECT_EQ(o.points[6], (scene::Point{11, 1, 5})) << "and tab point 0";
  EXPECT_EQ(o.polygons[1], (scene::Polygon{3, 4, 5, 6}));
}

namespace {

/// Two objects, two materials (plus a third that matches nothing by name), texture tags
/// restricted to selections and texture coordinates.
void materialScene(LinkedHost& h) {
  scene::Document& d = h.document();
  auto red = std::make_unique<scene::Material>();
  red->name = "Red";
  red->color = {1, 0, 0};
  auto redCopy = std::make_unique<scene::Material>(*red);
  redCopy->name = "Crimson";  // same settings, other name: must not be taken for Red
  auto blue = std::make_unique<scene::Material>();
  blue->name = "Blue";
  blue->color = {0, 0, 1};
  d.addMaterial(std::move(redCopy));
  scene::Material* r = d.addMaterial(std::move(red));
  scene::Material* b = d.addMaterial(std::move(blue));
  for (int i = 0; i < 2; ++i) {
    scene::Object* o = h.add(i == 0 ? cube() : grid(3, 2));
    o->name = i == 0 ? "Box" : "Sheet";
    scene::Tag* first = o->addTag(sdk::kTagTexture, "Red");
    first->material = r;
    first->restriction = "Front";
    scene::Tag* second = o->addTag(sdk::kTagTexture, "Blue");
    second->material = b;
    second->restriction = "Back";
    scene::Tag* front = o->addTag(sdk::kTagPolygonSelection, "Front");
    scene::Tag* back = o->addTag(sdk::kTagPolygonSelection, "Back");
    for (std::size_t q = 0; q < o->polygons.size(); ++q) (q % 2 ? back : front)->selection.add(static_cast<int>(q));
    scene::Tag* uvw = o->addTag(sdk::kTagUVW, "UVW");
    for (std::size_t q = 0; q < o->polygons.size(); ++q) {
      const float u = static_cast<float>(q) / 10.0f;
      uvw->uvw.push_back({{u, 0, 0}, {u, 0.25f, 0}, {u, 0.5f, 0}, {u, 0.75f, 0}});
    }
    o->addTag(sdk::kTagAnnotation, "Note")->text = "kept";
  }
}

}  // namespace

TEST(Run, MaterialsSelectionsAndTextureCoordinatesCarryOver) {
  LinkedHost h;
  materialScene(h);
  foldra::Settings s;
  s.Originalflag = false;
  h.execute(s);
  const scene::Document& d = h.document();
  scene::Material* red = d.materials()[1].get();
  scene::Material* blue = d.materials()[2].get();
  std::size_t pieceIndex = 0;
  std::vector<const scene::Object*> pieces;
  for (const auto& o : d.objects()) {
    if (o->name != "Box" && o->name != "Sheet") pieces.push_back(o.get());
  }
  ASSERT_EQ(static_cast<int>(pieces.size()), validPieces());
  for (std::size_t i = 0; i < run.containers.size(); ++i) {
    const foldra::gtc& c = *run.containers[i];
    if (!c.valid) continue;
    const scene::Object& o = *pieces[pieces.size() - 1 - pieceIndex++];
    ASSERT_EQ(o.tags.size(), 6u) << "every tag of the source, in order";
    EXPECT_EQ(o.tag(sdk::kTagTexture, 0)->material, red);
    EXPECT_EQ(o.tag(sdk::kTagTexture, 1)->material, blue);
    EXPECT_EQ(o.tag(sdk::kTagAnnotation, 0)->text, "kept");
    const scene::Tag& front = *o.tag(sdk::kTagPolygonSelection, 0);
    const scene::Tag& back = *o.tag(sdk::kTagPolygonSelection, 1);
    const scene::Tag& uvw = *o.tag(sdk::kTagUVW, 0);
    for (std::size_t j = 0; j < c.triangles.size(); ++j) {
      const gt& t = *c.triangles[j];
      const int polygon = static_cast<int>(j);
      EXPECT_EQ(front.selection.contains(polygon), t.textureNumber == 0);
      EXPECT_EQ(back.selection.contains(polygon), t.textureNumber == 1);
      EXPECT_NE(t.textureNumber, -1);
      for (int k = 0; k < 3; ++k) {
        const scene::Point& written = k == 0 ? uvw.uvw[j].a : (k == 1 ? uvw.uvw[j].b : uvw.uvw[j].c);
        EXPECT_EQ(written.x, static_cast<float>(t.uvw[k].x));
        EXPECT_EQ(written.y, static_cast<float>(t.uvw[k].y));
      }
    }
    EXPECT_EQ(front.selection.size() + back.selection.size(), c.triangles.size()) << "tabs are in no selection";
  }
}

TEST(Run, WithoutMaterialsThePiecesGetNoTags) {
  LinkedHost h;
  materialScene(h);
  foldra::Settings s;
  s.Materialflag = false;
  h.execute(s);
  for (const auto& o : h.document().objects()) EXPECT_TRUE(o->tags.empty());
}

TEST(Run, MaterialMatchingByNameAmongEqualSettings) {
  LinkedHost h;
  scene::Document& d = h.document();
  for (const char* name : {"Paper", "Paper", "Card"}) {
    auto m = std::make_unique<scene::Material>();
    m->name = name;
    d.addMaterial(std::move(m));
  }
  scene::Object* o = h.add(grid(1, 1));
  o->addTag(sdk::kTagTexture, "t")->material = d.materials()[2].get();
  o->addTag(sdk::kTagTexture, "t")->material = d.materials()[1].get();
  h.execute(foldra::Settings{});
  const scene::Object& piece = *d.objects().front();
  EXPECT_EQ(piece.tag(sdk::kTagTexture, 0)->material, d.materials()[2].get()) << "same settings, same name";
  EXPECT_EQ(piece.tag(sdk::kTagTexture, 1)->material, d.materials()[0].get()) << "the first of two equal ones";
}

TEST(Run, ATextureTagWithoutMatchIsPointedAtTheFirstMaterial) {
  LinkedHost h;
  scene::Document& d = h.document();
  d.addMaterial(std::make_unique<scene::Material>());
  scene::Object* o = h.add(grid(1, 1));
  o->addTag(sdk::kTagTexture, "t");  // links to no material
  h.execute(foldra::Settings{});
  EXPECT_EQ(d.objects().front()->tag(sdk::kTagTexture, 0)->material, d.materials()[0].get());
}

TEST(Run, ShortTextureTagIsReadSafelyAndFittedToThePiece) {
  LinkedHost h;
  HandPieces pieces({{Vec3{0, 0, 0}, {4, 0, 0}, {0, 2, 0}}, {Vec3{0, 0, 0}, {4, 0, 0}, {0, 2, 0}}});
  // Both triangles in one piece, whose object's texture-coordinate tag has one entry only.
  run.containers[0]->addTriangle(run.gtvec[0][1].get());
  run.containers[1]->valid = false;
  run.gtvec[0][0]->uvw[0] = {0.25, 0.5, 0};
  run.activeDocument = foldra::host::api().activeDocument();
  auto* object = foldra::createContainerObject(2, 0);
  scene::Tag* uvw = h.document().objects().front()->addTag(sdk::kTagUVW, "short");
  uvw->uvw.resize(1);
  ASSERT_TRUE(foldra::drawContainerMesh(object, Vec3{}, 2, 0));
  ASSERT_EQ(uvw->uvw.size(), 2u) << "one entry per polygon of the piece";
  EXPECT_EQ(uvw->uvw[0].a, (scene::Point{0.25f, 0.5f, 0}));
}

TEST(Run, ObjectsBelowASelectedObjectAreUnfoldedEachWithItsOwnPieces) {
  LinkedHost h;
  scene::Document& d = h.document();
  auto card = std::make_unique<scene::Material>();
  card->name = "Card";
  scene::Material* material = d.addMaterial(std::move(card));
  // A selected group whose polygon objects stand below it, one of them two levels down.
  auto group = std::make_unique<scene::Object>(sdk::kObjectNull);
  group->name = "Group";
  group->selected = true;
  scene::Object* parent = h.add(std::move(group));
  auto box = cube();
  box->selected = false;
  box->addTag(sdk::kTagTexture, "Card")->material = material;
  scene::Object* boxInGroup = d.append(std::move(box), parent);
  auto tet = tetrahedron();
  tet->selected = false;
  d.append(std::move(tet), parent);
  auto ball = icosphere(0);
  ball->selected = false;
  d.append(std::move(ball), boxInGroup);
  const std::string before = snapshot(d);
  h.execute(foldra::Settings{});
  EXPECT_EQ(d.findObject("Group"), nullptr) << "the group goes, and everything below it";
  int all = 0, carded = 0;
  for (const auto& o : d.objects()) {
    all += triangles(*o);
    const scene::Tag* texture = o->tag(sdk::kTagTexture, 0);
    if (texture) {
      EXPECT_EQ(texture->material, material);
      carded += triangles(*o);
    }
  }
  EXPECT_EQ(all, 12 + 4 + 20) << "the cube, the tetrahedron and the icosahedron below the cube";
  EXPECT_EQ(carded, 12) << "each object's pieces carry that object's own tags";
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(snapshot(d), before);
}

TEST(Run, EveryTagOnAPieceHoldsExactlyThePiecesPolygons) {
  LinkedHost h;
  scene::Document& d = h.document();
  auto paint = std::make_unique<scene::Material>();
  paint->name = "Paint";
  scene::Material* material = d.addMaterial(std::move(paint));
  scene::Object* o = h.add(icosphere(1));
  const int count = static_cast<int>(o->polygons.size());
  // Every polygon's texture coordinates name it: u is its number, v its corner (and its tag).
  for (const float tag : {0.0f, 10.0f}) {
    scene::Tag* uvw = o->addTag(sdk::kTagUVW, tag == 0 ? "UVW" : "Second");
    for (int q = 0; q < count; ++q) {
      const float u = static_cast<float>(q);
      uvw->uvw.push_back({{u, tag, 0}, {u, tag + 1, 0}, {u, tag + 2, 0}, {u, tag + 2, 0}});
    }
  }
  auto range = [](int from, int to) {
    std::set<int> s;
    for (int q = from; q <= to; ++q) s.insert(q);
    return s;
  };
  std::set<int> marked = range(0, 9), painted = range(20, 39);
  marked.insert(44);
  scene::Tag* texture = o->addTag(sdk::kTagTexture, "Paint");
  texture->material = material;
  texture->restriction = "Painted";
  for (const auto& [name, polygons] : {std::pair{"Marked", marked}, std::pair{"Painted", painted}}) {
    scene::Tag* selection = o->addTag(sdk::kTagPolygonSelection, name);
    for (int q : polygons) selection->selection.add(q);
  }
  const std::set<int> edges = {0, 1, 2, 4 * 7 + 1, 4 * 44 + 2};
  scene::Tag* marks = o->addTag(sdk::kTagEdgeSelection, "Edges");
  for (int e : edges) marks->selection.add(e);
  foldra::Settings s;
  s.Originalflag = false;
  h.execute(s);

  std::multiset<int> seen;
  int edgesSeen = 0;
  for (const auto& piece : d.objects()) {
    if (piece.get() == o) continue;
    const auto n = static_cast<int>(piece->polygons.size());
    const int t = triangles(*piece);
    const scene::Tag* uvw[2] = {piece->tag(sdk::kTagUVW, 0), piece->tag(sdk::kTagUVW, 1)};
    const scene::Tag* selections[2] = {piece->tag(sdk::kTagPolygonSelection, 0), piece->tag(sdk::kTagPolygonSelection, 1)};
    ASSERT_TRUE(uvw[0] && uvw[1] && selections[0] && selections[1]);
    for (const scene::Tag* tag : uvw) ASSERT_EQ(static_cast<int>(tag->uvw.size()), n) << "one entry per polygon of the piece";
    for (const scene::Tag* tag : selections) {
      for (int index : tag->selection.indices()) EXPECT_LT(index, t) << tag->name << ": triangles of the piece only";
    }
    for (int j = 0; j < t; ++j) {
      const auto& entry = uvw[0]->uvw[static_cast<std::size_t>(j)];
      const int q = static_cast<int>(entry.a.x);
      seen.insert(q);
      for (int i = 0; i < 2; ++i) {
        const auto& e = uvw[i]->uvw[static_cast<std::size_t>(j)];
        const float v = 10.0f * static_cast<float>(i);
        EXPECT_EQ(e.a, (scene::Point{float(q), v, 0}));
        EXPECT_EQ(e.b, (scene::Point{float(q), v + 1, 0}));
        EXPECT_EQ(e.c, (scene::Point{float(q), v + 2, 0}));
      }
      EXPECT_EQ(selections[0]->selection.contains(j), marked.count(q) == 1) << "Marked, polygon " << q;
      const scene::Tag* pieceEdges = piece->tag(sdk::kTagEdgeSelection, 0);
      ASSERT_NE(pieceEdges, nullptr);
      for (int k = 0; k < 3; ++k) {
        // The piece's triangle j is its polygon j; the sphere's faces all wind one way, so its
        // side k is the source polygon's side k.
        EXPECT_EQ(pieceEdges->selection.contains(4 * j + k), edges.count(4 * q + k) == 1) << "polygon " << q << " side " << k;
        edgesSeen += pieceEdges->selection.contains(4 * j + k) ? 1 : 0;
      }
      EXPECT_EQ(selections[1]->selection.contains(j), painted.count(q) == 1) << "Painted, polygon " << q;
    }
    // A tab's coordinates run along its triangle's side: its first two points are that side's
    // corners, and its outer corners repeat them.
    for (int r = t; r < n; ++r) {
      const scene::Polygon& tab = piece->polygons[static_cast<std::size_t>(r)];
      const auto& e = uvw[0]->uvw[static_cast<std::size_t>(r)];
      EXPECT_EQ(e.a, e.d);
      EXPECT_EQ(e.b, e.c);
      bool found = false;
      for (int j = 0; j < t && !found; ++j) {
        const auto& own = uvw[0]->uvw[static_cast<std::size_t>(j)];
        const scene::Point corners[3] = {own.a, own.b, own.c};
        for (int k = 0; k < 3 && !found; ++k) {
          found = piece->points[static_cast<std::size_t>(tab.a)] == piece->points[static_cast<std::size_t>(3 * j + (k + 1) % 3)] &&
                  piece->points[static_cast<std::size_t>(tab.b)] == piece->points[static_cast<std::size_t>(3 * j + k)] &&
                  e.a == corners[(k + 1) % 3] && e.b == corners[k];
        }
      }
      EXPECT_TRUE(found) << "tab polygon " << r;
    }
  }
  const std::set<int> all = range(0, count - 1);
  EXPECT_EQ(seen, std::multiset<int>(all.begin(), all.end())) << "every source triangle once";
  EXPECT_EQ(edgesSeen, static_cast<int>(edges.size())) << "every selected edge on the piece that holds its polygon";
}
