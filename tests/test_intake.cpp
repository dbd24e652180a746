// Mesh intake through our host: selection copies, triangulation, neighbours, texture numbers.
#include <gtest/gtest.h>

#include "geometry/kernel.h"
#include "host/edge_marks.h"
#include "intake/intake.h"
#include "support.h"
#include "unfold/unfold.h"

using namespace testing_support;
using foldra::gt;
using foldra::run;

namespace {

void collect(LinkedHost&) {
  foldra::clearTriangleLists();
  foldra::run.activeDocument = foldra::host::api().activeDocument();
  foldra::collectObjects();
}

int neighbourCount(const gt& t) { return (t.nb[0] ? 1 : 0) + (t.nb[1] ? 1 : 0) + (t.nb[2] ? 1 : 0); }

/// A strip of `n` quadrangles along x, selected.
std::unique_ptr<scene::Object> strip(int n) { return grid(n, 1); }

scene::Tag* addSelection(scene::Object& o, const std::string& name, std::initializer_list<int> polygons) {
  scene::Tag* tag = o.addTag(sdk::kTagPolygonSelection, name);
  for (int p : polygons) tag->selection.add(p);
  return tag;
}

scene::Tag* addTexture(scene::Object& o, const std::string& restriction) {
  scene::Tag* tag = o.addTag(sdk::kTagTexture, "Texture");
  tag->restriction = restriction;
  return tag;
}

std::vector<int> textureNumbers() {
  std::vector<int> out;
  for (const auto& t : run.gtvec.at(0)) out.push_back(t->textureNumber);
  return out;
}

}  // namespace

TEST(Intake, CubeGivesTwelveTrianglesEachWithThreeNeighbours) {
  LinkedHost h;
  auto cubeObject = std::make_unique<scene::Object>(sdk::kObjectCube);
  cubeObject->selected = true;
  h.add(std::move(cubeObject));
  collect(h);
  ASSERT_EQ(run.sourceObjects.size(), 1u);
  ASSERT_EQ(run.gtvec.size(), 1u);
  ASSERT_EQ(run.gtvec[0].size(), 12u);
  for (const auto& t : run.gtvec[0]) {
    EXPECT_EQ(neighbourCount(*t), 3);
    for (int k = 0; k < 3; ++k) {
      // The neighbour lists this triangle back.
      const gt* n = t->nb[k];
      EXPECT_TRUE(n->nb[0] == t.get() || n->nb[1] == t.get() || n->nb[2] == t.get());
    }
  }
  EXPECT_EQ(h.document().objects().front()->type, sdk::kObjectCube) << "the user's object is untouched";
}

TEST(Intake, QuadrangleGivesTwoTrianglesThatAreEachOthersNeighbour) {
  LinkedHost h;
  h.add(grid(1, 1));
  collect(h);
  ASSERT_EQ(run.gtvec[0].size(), 2u);
  const gt& a = *run.gtvec[0][0];
  const gt& b = *run.gtvec[0][1];
  EXPECT_EQ(neighbourCount(a), 1);
  EXPECT_EQ(neighbourCount(b), 1);
  EXPECT_TRUE(b.isneighbor(a));
  EXPECT_TRUE(a.isneighbor(b));
}

TEST(Intake, SelectedPolygonObjectsAndTheObjectsBelowThemAreCollected) {
  LinkedHost h;
  auto light = std::make_unique<scene::Object>(sdk::kObjectLight);
  light->selected = true;
  h.add(std::move(light));
  scene::Object* parent = h.add(cube());
  auto child = tetrahedron();
  child->selected = true;
  h.document().append(std::move(child), parent);
  h.add(grid(1, 1))->selected = false;
  collect(h);
  ASSERT_EQ(run.sourceObjects.size(), 2u) << "the light is no polygon object; the child is copied with the cube";
  EXPECT_EQ(run.gtvec[0].size(), 12u);
  EXPECT_EQ(run.gtvec[0][0]->objectIndex, 0);
  EXPECT_EQ(run.gtvec[0][0]->objectOrdinal, 1) << "the light counts as ordinal 0";
  EXPECT_EQ(run.gtvec[1].size(), 4u) << "the tetrahedron below the cube";
  EXPECT_EQ(run.gtvec[1][0]->objectIndex, 1);
  EXPECT_EQ(run.gtvec[1][0]->objectOrdinal, 2);
}

TEST(Intake, ASelectedChildOfAnUnselectedParentIsCollected) {
  LinkedHost h;
  scene::Object* parent = h.add(std::make_unique<scene::Object>(sdk::kObjectNull));
  h.document().append(tetrahedron(), parent);
  collect(h);
  ASSERT_EQ(run.sourceObjects.size(), 1u);
  EXPECT_EQ(run.gtvec[0].size(), 4u);
}

TEST(Intake, TextureCoordinatesComeFromTheFirstTag) {
  LinkedHost h;
  scene::Object* o = h.add(strip(1));
  scene::Tag* first = o->addTag(sdk::kTagUVW, "first");
  first->uvw = {{{0.1f, 0.2f, 0}, {0.3f, 0.4f, 0}, {0.5f, 0.6f, 0}, {0.7f, 0.8f, 0}}};
  scene::Tag* second = o->addTag(sdk::kTagUVW, "second");
  second->uvw = {{{9, 9, 9}, {9, 9, 9}, {9, 9, 9}, {9, 9, 9}}};
  collect(h);
  const gt& t = *run.gtvec[0][0];
  EXPECT_FLOAT_EQ(static_cast<float>(t.uvw[0].x), 0.1f);
  EXPECT_FLOAT_EQ(static_cast<float>(t.uvw[2].y), 0.6f);
  // The quadrangle's second triangle takes the corners a, c, d.
  const gt& u = *run.gtvec[0][1];
  EXPECT_FLOAT_EQ(static_cast<float>(u.uvw[2].x), 0.7f);
}

TEST(Intake, ShortTextureTagAndBadIndicesAreReadSafely) {
  LinkedHost h;
  scene::Object* o = h.add(strip(3));
  scene::Tag* uvw = o->addTag(sdk::kTagUVW, "short");
  uvw->uvw = {{{1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}}};  // one entry for three quadrangles
  o->polygons.push_back({0, 1, 99, 99});                       // a point the object does not have
  collect(h);
  ASSERT_EQ(run.gtvec[0].size(), 7u) << "the broken polygon keeps its place";
  EXPECT_EQ(run.gtvec[0][0]->uvw[0].x, 1);
  EXPECT_EQ(run.gtvec[0][4]->uvw[0].x, 0) << "past the tag's end: zeros";
  const gt& broken = *run.gtvec[0][6];
  EXPECT_FALSE(broken.usable);
  EXPECT_EQ(neighbourCount(broken), 0);
  for (const auto& t : run.gtvec[0]) {
    for (int k = 0; k < 3; ++k) EXPECT_NE(t->nb[k], &broken);
  }
  foldra::prepareTriangles();
  foldra::createTabs();
  foldra::Algokante();
  EXPECT_EQ(broken.containerIndex, -1) << "it takes no part in the unfolding";
  EXPECT_TRUE(checkUnfolding({}).empty());
}

// ---- Winding ---------------------------------------------------------------------------------

namespace {

/// Links of list 0 whose two triangles run their shared side the same way.
int linksAgainst() {
  int n = 0;
  for (const auto& t : run.gtvec.at(0)) {
    for (int e = 0; e < 3; ++e) {
      const gt* g = t->nb[e];
      const int s = g ? foldra::backSide(*t, *g) : -1;
      if (s >= 0 && t->P[e] == g->P[s] && t->P[(e + 1) % 3] == g->P[(s + 1) % 3]) ++n;
    }
  }
  return n;
}

std::unique_ptr<scene::Object> triangles(const std::vector<scene::Point>& points, const std::vector<scene::Polygon>& faces) {
  auto o = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  o->selected = true;
  o->points = points;
  o->polygons = faces;
  return o;
}

}  // namespace

TEST(Intake, AFaceWoundAgainstItsNeighbourIsTurned) {
  LinkedHost h;
  // Both triangles run their shared side from (0,0,0) to (4,0,0).
  h.add(triangles({{0, 0, 0}, {4, 0, 0}, {1, 3, 0}, {3, -2, 0.5f}}, {{0, 1, 2, 2}, {0, 1, 3, 3}}));
  collect(h);
  const gt& a = *run.gtvec[0][0];
  const gt& b = *run.gtvec[0][1];
  EXPECT_FALSE(a.turned) << "on a tie the first triangle's winding stays";
  ASSERT_TRUE(b.turned);
  EXPECT_EQ(b.P[0], (foldra::Vec3{0, 0, 0}));
  EXPECT_EQ(b.P[1], (foldra::Vec3{3, -2, 0.5}));
  EXPECT_EQ(b.P[2], (foldra::Vec3{4, 0, 0}));
  EXPECT_EQ(a.nb[0], &b);
  EXPECT_EQ(b.nb[2], &a) << "side 2 now runs from (4,0,0) back to (0,0,0)";
  EXPECT_EQ(b.nb[0], nullptr);
  EXPECT_EQ(linksAgainst(), 0);
}

TEST(Intake, MarkedEdgesReachBothCopiesAndATabMarkItsOwnSideEvenOnATurnedFace) {
  LinkedHost h;
  // As above: b is turned, so its polygon's side 0 is its side 2 and its side 1 stays side 1.
  auto o = triangles({{0, 0, 0}, {4, 0, 0}, {1, 3, 0}, {3, -2, 0.5f}}, {{0, 1, 2, 2}, {0, 1, 3, 3}});
  auto mark = [&](const char* name, std::initializer_list<int> edges) {
    scene::Tag* tag = o->addTag(sdk::kTagEdgeSelection, name);
    for (int e : edges) tag->selection.add(e);
  };
  // Edges past the triangles, and side 3 of a triangle, name nothing.
  mark(foldra::kEdgesCut, {0, 4 * 7, 3});
  mark(foldra::kEdgesTab, {4 * 1 + 0});
  mark(foldra::kEdgesNoTab, {4 * 1 + 1});
  h.add(std::move(o));
  collect(h);
  const gt& a = *run.gtvec[0][0];
  const gt& b = *run.gtvec[0][1];
  ASSERT_TRUE(b.turned);
  EXPECT_EQ(a.marks[0], foldra::kMarkCut) << "the cut holds for the edge, the tab only for b's copy";
  EXPECT_EQ(b.marks[2], foldra::kMarkCut | foldra::kMarkTab);
  EXPECT_EQ(b.marks[1], foldra::kMarkNoTab);
  EXPECT_EQ(a.marks[1] | a.marks[2] | b.marks[0], 0);
  EXPECT_EQ(foldra::triangleSide(b, 0), 2);
  EXPECT_EQ(foldra::triangleSide(a, 0), 0);
}

TEST(Intake, EachConnectedPartIsWoundOneWayByItsLargerShare) {
  for (const int turned : {0, 1, 5}) {
    LinkedHost h;
    auto ball = icosphere(1);
    // The first faces of the list wound the other way; with none, the sphere turned inside out.
    auto turn = [](scene::Polygon& q) { q = {q.a, q.c, q.b, q.b}; };
    for (int q = 0; q < turned; ++q) turn(ball->polygons[static_cast<std::size_t>(q)]);
    if (turned == 0) {
      for (auto& q : ball->polygons) turn(q);
    }
    h.add(std::move(ball));
    collect(h);
    int turnedBack = 0;
    for (std::size_t q = 0; q < run.gtvec[0].size(); ++q) {
      turnedBack += run.gtvec[0][q]->turned ? 1 : 0;
      EXPECT_EQ(run.gtvec[0][q]->turned, static_cast<int>(q) < turned) << q;
    }
    EXPECT_EQ(turnedBack, turned) << "an inside-out sphere winds one way: nothing to turn";
    EXPECT_EQ(linksAgainst(), 0);
  }
}

TEST(Intake, TwoShellsOnOneEdgeKeepTheirOwnWinding) {
  LinkedHost h;
  // Two tetrahedra, each wound outwards, share the edge (0,0,0)-(1,0,0): four faces on one edge,
  // which the neighbour search pairs across the two shells, each pair running the edge one way.
  h.add(triangles({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, -1, 0}, {0, 0, -1}},
                  {{0, 2, 1, 1}, {0, 4, 1, 1}, {0, 1, 3, 3}, {0, 1, 5, 5}, {0, 3, 2, 2}, {1, 2, 3, 3}, {0, 5, 4, 4}, {1, 4, 5, 5}}));
  collect(h);
  for (const auto& t : run.gtvec[0]) EXPECT_FALSE(t->turned) << "neither shell is turned inside out";
  EXPECT_EQ(linksAgainst(), 4) << "the two pairs on the shared edge, seen from both sides";
}

TEST(Intake, WhatCannotBeWoundOneWayIsLeftForTheUnfoldingToCut) {
  LinkedHost h;
  h.add(moebius(24));
  collect(h);
  EXPECT_EQ(linksAgainst(), 2) << "one edge of the strip, seen from both sides";
  foldra::prepareTriangles();
  foldra::createTabs();
  foldra::Algokante();
  EXPECT_TRUE(checkUnfolding({}).empty());
}

TEST(Intake, TextureNumbers) {
  // Six quadrangles become twelve triangles; selections are given in triangle indices of the
  // triangulated object (selection tags are carried through triangulation by the host, so a
  // quadrangle q holds triangles 2q and 2q + 1).
  struct Case {
    const char* what;
    std::function<void(scene::Object&)> tags;
    std::vector<int> expected;
  };
  const std::vector<Case> cases = {
      {"restricted to S, S holds polygons 1 and 2",
       [](scene::Object& o) {
         addTexture(o, "S");
         addSelection(o, "S", {1, 2});
       },
       {-1, -1, 0, 0, 0, 0, -1, -1, -1, -1, -1, -1}},
      {"unrestricted first, restricted second",
       [](scene::Object& o) {
         addTexture(o, "");
         addTexture(o, "S");
         addSelection(o, "S", {1});
       },
       {-1, -1, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1}},
      {"two tags on one selection: the later wins",
       [](scene::Object& o) {
         addTexture(o, "S");
         addTexture(o, "S");
         addSelection(o, "S", {0});
       },
       {1, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
      {"two selections of one name both apply",
       [](scene::Object& o) {
         addTexture(o, "S");
         addSelection(o, "S", {0});
         addSelection(o, "S", {5});
       },
       {0, 0, -1, -1, -1, -1, -1, -1, -1, -1, 0, 0}},
      {"a restriction naming no selection uses up its number",
       [](scene::Object& o) {
         addTexture(o, "missing");
         addTexture(o, "S");
         addSelection(o, "S", {3});
       },
       {-1, -1, -1, -1, -1, -1, 1, 1, -1, -1, -1, -1}},
      {"an unrestricted tag covers a selection with an empty name",
       [](scene::Object& o) {
         addTexture(o, "");
         addSelection(o, "", {4});
       },
       {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, -1, -1}},
  };
  for (const Case& c : cases) {
    LinkedHost h;
    scene::Object* o = h.add(strip(6));
    c.tags(*o);
    collect(h);
    EXPECT_EQ(textureNumbers(), c.expected) << c.what;
  }
}

TEST(Intake, RangesPastTheLastTriangleAndMatchedSelectionsEmptied) {
  LinkedHost h;
  scene::Object* o = h.add(strip(1));
  addTexture(*o, "S");
  addSelection(*o, "S", {0});
  addSelection(*o, "other", {0});
  collect(h);
  // Reach past the end through the polygon copy's selection: the host clips ranges to the
  // polygon count, and intake ignores what lies beyond its triangles.
  EXPECT_EQ(textureNumbers(), (std::vector<int>{0, 0}));
  const sdk::Document* copy = run.polygonCopy;
  const auto* doc = reinterpret_cast<const scene::Document*>(copy);
  const scene::Object& source = *doc->objects().front();
  EXPECT_EQ(source.tag(sdk::kTagPolygonSelection, 0)->selection.size(), 0u) << "matched: emptied";
  EXPECT_EQ(source.tag(sdk::kTagPolygonSelection, 1)->selection.size(), 2u) << "unmatched: kept";
}

TEST(Intake, SelectionBeyondTheTrianglesIsSkipped) {
  LinkedHost h;
  scene::Object* o = h.add(strip(1));
  addTexture(*o, "S");
  addSelection(*o, "S", {0});
  collect(h);
  foldra::clearTriangleLists();
  // Texture pass on a triangle list shorter than the object's polygons.
  run.gtvec.emplace_back();
  run.gtvec[0].push_back(std::make_unique<gt>(0));
  auto* doc = reinterpret_cast<scene::Document*>(run.polygonCopy);
  scene::Object& source = *doc->objects().front();
  source.tag(sdk::kTagPolygonSelection, 0)->selection.add(0);
  source.tag(sdk::kTagPolygonSelection, 0)->selection.add(1);
  foldra::assignTextureNumbers(reinterpret_cast<sdk::Object*>(&source), 0);
  EXPECT_EQ(run.gtvec[0][0]->textureNumber, 0);
}

TEST(Intake, NothingSelectedOrNothingConvertible) {
  LinkedHost h;
  h.add(cube())->selected = false;
  collect(h);
  EXPECT_TRUE(run.gtvec.empty());
  auto light = std::make_unique<scene::Object>(sdk::kObjectLight);
  light->selected = true;
  h.add(std::move(light));
  collect(h);
  EXPECT_TRUE(run.gtvec.empty());
  EXPECT_TRUE(run.sourceObjects.empty());
}

TEST(Intake, CopiesAreReleasedByTheNextRunAtTheLatest) {
  LinkedHost h;
  h.add(cube());
  collect(h);
  EXPECT_EQ(h.host.looseDocuments(), 2u);
  collect(h);
  EXPECT_EQ(h.host.looseDocuments(), 2u) << "the first run's copies were freed";
  foldra::releaseCopyDocuments();
  EXPECT_EQ(h.host.looseDocuments(), 0u);
}
