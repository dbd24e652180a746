// The job layer's reading of a run: the module's description of its pieces, checked as the
// program receives it, and the pattern drawn from it; the ways of cutting its dialog offers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <thread>
#include <atomic>

#include "job/document.h"
#include "job/job.h"
#include "job/methods.h"
#include "job/module.h"
#include "job/pattern_input.h"
#include "runtime/run_report.h"
#include "host/run_state.h"
#include "shell/ids.h"
#include "shell/plugin.h"
#include "shell/report.h"
#include "support.h"

using namespace testing_support;

namespace {

runtime::RunReport reportOfRun() {
  runtime::RunReport report;
  std::string error;
  EXPECT_TRUE(runtime::collectRunReport([](const sdk::RunReportSink& sink) { return foldra::describeRun(sink); }, &report, &error))
      << error;
  return report;
}

using Flat = std::array<double, 2>;

/// The label of the cut edge from a to b of a piece, found by its corners (-1: no such cut).
int labelAt(const pattern::Piece& piece, const Flat& a, const Flat& b) {
  for (const pattern::Edge& e : piece.edges) {
    if (e.kind == pattern::EdgeKind::Cut && e.a.x == a[0] && e.a.y == a[1] && e.b.x == b[0] && e.b.y == b[1]) return e.label;
  }
  return -1;
}

/// A model of two triangles in one piece, the fold between them described from both sides, as
/// a module that works well describes it.
struct TwoTriangles {
  sdk::RunTriangle t[2]{};
  TwoTriangles() {
    const double flat[2][3][2] = {{{0, 0}, {1, 0}, {0, 1}}, {{1, 0}, {1, 1}, {0, 1}}};
    for (int i = 0; i < 2; ++i) {
      for (int k = 0; k < 3; ++k) {
        t[i].flat[k][0] = flat[i][k][0];
        t[i].flat[k][1] = flat[i][k][1];
        t[i].sides[k] = sdk::RunSide{sdk::kSideOpen, 0, 0, -1, -1, -1, 0, {}, 0, 0};
      }
      t[i].polygon = i;
    }
    t[0].sides[1] = sdk::RunSide{sdk::kSideFold, 0, 0, 0, 1, 2, 0, {}, 0, 0};
    t[1].sides[2] = sdk::RunSide{sdk::kSideFold, 0, 0, 0, 0, 1, 0, {}, 0, 0};
  }
  /// Describes the piece to the sink, announcing `announced` triangles.
  bool describe(const sdk::RunReportSink& sink, int announced = 2) const {
    sink.piece(sink.context, 0, announced);
    for (const auto& triangle : t) sink.triangle(sink.context, &triangle);
    return true;
  }
};

}  // namespace

TEST(RunReport, EachCutIsLabelledLikeTheSameEdgeOfTheModelElsewhere) {
  for (auto make : {+[] { return cube(); }, +[] { return icosphere(2); }, +[] { return torus(12, 6); },
                    +[] { return openCylinder(10, 2); }, +[] { return starPrism(); }}) {
    LinkedHost h;
    h.add(make());
    foldra::Settings s;
    s.Seitenflag = true;
    s.Seitenbreite = 12;
    s.Seitenhoehe = 9;
    s.Laschenbreite = 1;
    ASSERT_TRUE(h.unfold(s));
    const runtime::RunReport report = reportOfRun();
    const pattern::PatternInput input = job::patternInput(report, "");
    ASSERT_EQ(input.pieces.size(), report.pieces.size());
    int cuts = 0;
    for (std::size_t p = 0; p < report.pieces.size(); ++p) {
      for (const runtime::RunTriangle& t : report.pieces[p].triangles) {
        for (std::size_t k = 0; k < 3; ++k) {
          const runtime::RunSide& side = t.sides[k];
          if (side.kind != runtime::RunSide::Kind::Cut) continue;
          ++cuts;
          // The other copy is the same edge of the model, run the other way.
          const auto& other = report.pieces[static_cast<std::size_t>(side.piece)].triangles[static_cast<std::size_t>(side.triangle)];
          const auto r = static_cast<std::size_t>(side.side);
          EXPECT_EQ(t.space[k], other.space[(r + 1) % 3]);
          EXPECT_EQ(t.space[(k + 1) % 3], other.space[r]);
          // Both copies carry one number, and no other edge carries it.
          const int label = labelAt(input.pieces[p], t.flat[k], t.flat[(k + 1) % 3]);
          EXPECT_GT(label, 0);
          EXPECT_EQ(labelAt(input.pieces[static_cast<std::size_t>(side.piece)], other.flat[r], other.flat[(r + 1) % 3]), label);
          int carriers = 0;
          for (const auto& piece : input.pieces) {
            for (const auto& e : piece.edges) carriers += e.label == label ? 1 : 0;
          }
          EXPECT_EQ(carriers, 2) << "label " << label;
        }
      }
    }
    EXPECT_GT(cuts, 0) << "the page limit cuts every one of these models";
  }
}

TEST(RunReport, EverySideNamesItsPolygonsEdgeAndTheMarksSetThere) {
  LinkedHost h;
  auto ball = icosphere(1);
  // Half the faces wound the other way: intake turns them, and their sides run against their
  // polygons'.
  for (std::size_t q = 0; q < ball->polygons.size(); q += 2) std::swap(ball->polygons[q].b, ball->polygons[q].c);
  for (std::size_t q = 0; q < ball->polygons.size(); q += 2) ball->polygons[q].d = ball->polygons[q].c;
  scene::Tag* cuts = ball->addTag(sdk::kTagEdgeSelection, foldra::kEdgesCut);
  cuts->selection.add(4 * 3 + 1);
  const std::vector<scene::Point> points = ball->points;
  const std::vector<scene::Polygon> polygons = ball->polygons;
  h.add(std::move(ball));
  ASSERT_TRUE(h.unfold(foldra::Settings{}));
  const runtime::RunReport report = reportOfRun();
  int marked = 0;
  for (const auto& piece : report.pieces) {
    for (const runtime::RunTriangle& t : piece.triangles) {
      const scene::Polygon& q = polygons[static_cast<std::size_t>(t.polygon)];
      const std::int32_t corner[3] = {q.a, q.b, q.c};
      for (std::size_t k = 0; k < 3; ++k) {
        const runtime::RunSide& side = t.sides[k];
        const scene::Point& from = points[static_cast<std::size_t>(corner[side.edge])];
        const scene::Point& to = points[static_cast<std::size_t>(corner[(side.edge + 1) % 3])];
        // The side joins the two corners of its polygon's edge, in either direction.
        const std::array<double, 3> f{from.x, from.y, from.z}, g{to.x, to.y, to.z};
        EXPECT_TRUE((t.space[k] == f && t.space[(k + 1) % 3] == g) || (t.space[k] == g && t.space[(k + 1) % 3] == f));
        marked += side.marks == foldra::kMarkCut ? 1 : 0;
      }
    }
  }
  EXPECT_EQ(marked, 2) << "both copies of the marked edge say so";
}

TEST(RunReport, ADescriptionThatDoesNotHoldTogetherIsRefused) {
  runtime::RunReport report;
  std::string error;
  auto collect = [&](const std::function<bool(const sdk::RunReportSink&)>& ask) {
    error.clear();
    return runtime::collectRunReport(ask, &report, &error);
  };
  // The sound description first: each mutation below breaks one thing of it.
  const TwoTriangles sound;
  ASSERT_TRUE(collect([&](const sdk::RunReportSink& sink) { return sound.describe(sink); })) << error;
  ASSERT_EQ(report.pieces.size(), 1u);
  EXPECT_EQ(report.pieces[0].triangles[1].sides[2].triangle, 0);

  EXPECT_FALSE(collect([](const sdk::RunReportSink&) { return false; }));
  EXPECT_NE(error.find("did not describe"), std::string::npos) << error;

  struct Case {
    const char* what;
    std::function<void(TwoTriangles&)> mutate;
    int announced = 2;
  };
  const std::vector<Case> cases = {
      {"a corner that is no number", [](TwoTriangles& m) { m.t[1].flat[2][0] = std::numeric_limits<double>::quiet_NaN(); }},
      {"an infinite tab", [](TwoTriangles& m) { m.t[0].sides[0] = {sdk::kSideOpen, 0, 0, -1, -1, -1, 1, {{0, 0}, {INFINITY, 0}}, 0, 0}; }},
      {"a side that names no edge of its polygon", [](TwoTriangles& m) { m.t[0].sides[2].edge = 3; }},
      {"a fold onto a triangle the piece does not have", [](TwoTriangles& m) { m.t[0].sides[1].triangle = 7; }},
      {"a fold onto a piece the run does not have", [](TwoTriangles& m) { m.t[0].sides[1].piece = -3; }},
      {"a fold whose other side names another", [](TwoTriangles& m) { m.t[1].sides[2].side = 0; }},
      {"a cut whose other copy is a fold", [](TwoTriangles& m) { m.t[0].sides[1].kind = sdk::kSideCut; }},
      {"a piece of fewer triangles than it announced", [](TwoTriangles&) {}, 3},
  };
  for (const Case& c : cases) {
    TwoTriangles broken;
    c.mutate(broken);
    EXPECT_FALSE(collect([&](const sdk::RunReportSink& sink) { return broken.describe(sink, c.announced); })) << c.what;
    EXPECT_NE(error.find("does not hold together"), std::string::npos) << c.what << ": " << error;
    EXPECT_TRUE(report.pieces.empty()) << c.what;
  }
  // Pieces out of order, and a triangle before any piece.
  EXPECT_FALSE(collect([&](const sdk::RunReportSink& sink) {
    sink.piece(sink.context, 1, 0);
    return true;
  }));
  EXPECT_FALSE(collect([&](const sdk::RunReportSink& sink) {
    sink.triangle(sink.context, &sound.t[0]);
    return true;
  }));
}

TEST(RunReport, ARunTheHostHasForgottenIsNoLongerDescribed) {
  LinkedHost h;
  h.add(cube());
  foldra::Settings s;
  s.Abwicklungsart = foldra::kUnfoldCompact;
  ASSERT_TRUE(h.unfold(s));
  ASSERT_EQ(reportOfRun().pieces.size(), 1u);
  // Described once, the run's records are all the module still holds of it; the host lets
  // them go before it writes its files.
  EXPECT_TRUE(foldra::PluginMessage(sdk::kMessageForgetRun, nullptr));
  EXPECT_TRUE(foldra::run.gtvec.empty());
  EXPECT_TRUE(foldra::run.containers.empty());
  runtime::RunReport report;
  std::string error;
  EXPECT_FALSE(runtime::collectRunReport([](const sdk::RunReportSink& sink) { return foldra::describeRun(sink); }, &report, &error));
}

/// The module loaded from its file, as the program runs it.
class ModuleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module_.load(modulePath(), &error)) << error;
  }
  job::RunResult unfold(std::unique_ptr<scene::Object> object, const job::Settings& settings, double scale) {
    auto document = std::make_unique<scene::Document>();
    document->append(std::move(object));
    return unfold(std::move(document), settings, scale, "");
  }
  job::RunResult unfold(std::unique_ptr<scene::Document> document, const job::Settings& settings, double scale,
                        const std::string& folder) {
    std::string error;
    EXPECT_TRUE(job::selectObjects(*document, {}, &error)) << error;
    job::Unfolding unfolding;
    unfolding.settings = settings;
    unfolding.scale = scale;
    unfolding.pattern = true;
    job::RunResult result;
    module_.unfold(document, unfolding, folder, nullptr, &result);
    EXPECT_EQ(result.outcome, job::RunResult::Outcome::Ran);
    EXPECT_EQ(result.patternProblem, "");
    return result;
  }
  job::Module module_;
};

TEST_F(ModuleRun, ThePatternHasThePiecesTrianglesAndTabsOfTheRun) {
  for (bool tabs : {true, false}) {
    job::Settings settings;
    settings.tabs = tabs;
    settings.pageLimit = !tabs;
    settings.pageWidth = 25;
    settings.pageHeight = 18;
    settings.margin = 0;
    settings.tabDepth = 1;
    const job::RunResult result = unfold(icosphere(2, 10), settings, 1);
    const pattern::PatternInput& input = result.pattern;
    ASSERT_EQ(static_cast<int>(input.pieces.size()), result.summary.pieces);
    int triangles = 0, tabCount = 0;
    for (const auto& piece : input.pieces) {
      triangles += static_cast<int>(piece.triangles.size());
      tabCount += static_cast<int>(piece.tabs.size());
      if (settings.pageLimit.value_or(false)) {
        // Every piece within the page, as the module keeps it (never turned).
        double low[2] = {INFINITY, INFINITY}, high[2] = {-INFINITY, -INFINITY};
        for (const auto& t : piece.triangles) {
          for (const auto& q : t.p) {
            low[0] = std::min(low[0], q.x), high[0] = std::max(high[0], q.x);
            low[1] = std::min(low[1], q.y), high[1] = std::max(high[1], q.y);
          }
        }
        EXPECT_LE(high[0] - low[0], settings.pageWidth + 1e-9);
        EXPECT_LE(high[1] - low[1], settings.pageHeight + 1e-9);
      }
    }
    EXPECT_EQ(triangles, result.summary.triangles);
    EXPECT_EQ(tabCount, result.summary.tabs) << "tabs " << tabs;
    if (!tabs) {
      EXPECT_EQ(tabCount, 0);
      EXPECT_GT(input.pieces.size(), 1u) << "the page cuts the sphere";
    }
  }
}

TEST_F(ModuleRun, CutsCompactUnlessToldAndCountsTheCutEdgesWithoutATab) {
  job::Settings settings;
  EXPECT_EQ(job::tabDepth(settings), job::method(job::Unfold::Compact).tabDepth);
  settings.tabDepth = 0.6;
  const job::RunResult withTabs = unfold(bumpySphere(3, 3), settings, 1);
  settings.bareSeams = true;
  const job::RunResult compact = unfold(bumpySphere(3, 3), settings, 1);
  settings.bareSeams = false;
  settings.unfold = job::Unfold::LongestEdge;
  settings.tabDepth.reset();
  EXPECT_EQ(job::tabDepth(settings), job::method(job::Unfold::LongestEdge).tabDepth);
  settings.tabDepth = 0.6;
  const job::RunResult longestEdge = unfold(bumpySphere(3, 3), settings, 1);
  EXPECT_LT(compact.summary.pieces, longestEdge.summary.pieces);
  for (const job::RunResult* result : {&withTabs, &compact, &longestEdge}) {
    // The count agrees with the pattern: cut edges whose number no tab carries.
    std::set<int> cut, tabbed;
    for (const auto& piece : result->pattern.pieces) {
      for (const auto& e : piece.edges) {
        if (e.kind == pattern::EdgeKind::Cut && e.label > 0) cut.insert(e.label);
      }
      for (const auto& tab : piece.tabs) tabbed.insert(tab.label);
    }
    int bare = 0;
    for (int label : cut) bare += tabbed.count(label) ? 0 : 1;
    ASSERT_TRUE(result->summary.untabbed.has_value());
    EXPECT_EQ(*result->summary.untabbed, bare);
  }
  EXPECT_GT(*compact.summary.untabbed, 0) << "slits inside large pieces have no room for a tab";
  EXPECT_LT(*withTabs.summary.untabbed, *compact.summary.untabbed) << "by default the pieces are cut so that seams take tabs";
}

TEST_F(ModuleRun, EveryWayOfCuttingTheDialogOffersIsOneRowOfTheMethodsAndEnteredAsItsChoice) {
  job::DialogForm form;
  std::string error;
  ASSERT_TRUE(module_.dialogForm(&form, &error)) << error;
  std::set<std::int32_t> offered;
  for (const runtime::GadgetDescription& g : form.description.gadgets) {
    if (g.id != foldra::kGadgetUnfolding) continue;
    for (const auto& [value, label] : g.entries) offered.insert(value);
  }
  // A way the dialog offers without a row would be run as another, or refused.
  std::set<std::int32_t> rows;
  std::set<std::string_view> names;
  for (const job::Method& m : job::kMethods) {
    EXPECT_TRUE(rows.insert(m.choice).second) << m.name;
    EXPECT_TRUE(names.insert(m.name).second) << m.name;
    EXPECT_EQ(job::methodNamed(m.name), &m);
    EXPECT_EQ(job::methodOfChoice(m.choice), &m);
    EXPECT_EQ(&job::method(m.unfold), &m);
    job::Settings settings;
    settings.unfold = m.unfold;
    EXPECT_EQ(job::tabDepth(settings), m.tabDepth) << m.name;
    const runtime::DialogScript script = job::dialogScript(settings, 1, true, job::kAllEntries, foldra::kButtonConfirm);
    const auto entered = std::find_if(script.begin(), script.end(), [](const runtime::DialogStep& step) {
      return step.kind == runtime::DialogStep::Kind::Set && step.gadget == foldra::kGadgetUnfolding;
    });
    ASSERT_NE(entered, script.end()) << m.name;
    EXPECT_EQ(entered->value, std::to_string(m.choice)) << m.name;
  }
  EXPECT_EQ(offered, rows);
  EXPECT_EQ(job::methodNamed("longest"), nullptr);
  EXPECT_EQ(job::methodOfChoice(foldra::kUnfoldingChoiceBase + 99), nullptr);
}

TEST_F(ModuleRun, TrianglesKeepTheirMaterialsWhenThePiecesDoNot) {
  // Without materials the pieces carry none, but the pattern still prints the model's colours
  // and textures: it reads them from the document the run worked on.
  const std::string folder = std::string(FOLDRA_SOURCE_DIR) + "/examples";
  for (bool materials : {true, false}) {
    auto document = std::make_unique<scene::Document>();
    std::string error;
    ASSERT_TRUE(job::loadModel(folder + "/house.obj", *document, &error)) << error;
    job::Settings settings;
    settings.materials = materials;
    const job::RunResult result = unfold(std::move(document), settings, 30, folder);
    std::map<std::string, std::string> textures;
    for (const auto& m : result.pattern.materials) textures[m.name] = std::filesystem::path(m.texture).filename().string();
    EXPECT_EQ(textures.size(), 2u);
    EXPECT_EQ(textures["Walls"], "house-walls.png");
    for (const auto& piece : result.pattern.pieces) {
      for (const auto& t : piece.triangles) {
        EXPECT_GE(t.material, 0);
        EXPECT_TRUE(t.hasUV);
      }
    }
  }
}

TEST_F(ModuleRun, ADialogClosedWithoutARunDescribesNoEarlierRun) {
  // A run on a textured model whose document is then gone; the module's last run still refers
  // to that document's materials.
  {
    auto document = std::make_unique<scene::Document>();
    std::string error;
    ASSERT_TRUE(job::loadModel(std::string(FOLDRA_SOURCE_DIR) + "/examples/house.obj", *document, &error)) << error;
    const job::RunResult first = unfold(std::move(document), job::Settings{}, 30, "");
    ASSERT_GT(first.pattern.materials.size(), 0u);
  }
  auto document = std::make_unique<scene::Document>();
  document->append(cube());
  std::string error;
  ASSERT_TRUE(job::selectObjects(*document, {}, &error));
  job::Unfolding unfolding;
  unfolding.pattern = true;
  unfolding.cancel = true;
  job::RunResult result;
  module_.unfold(document, unfolding, "", nullptr, &result);
  EXPECT_EQ(result.outcome, job::RunResult::Outcome::Ran);
  EXPECT_FALSE(result.recorded);
  EXPECT_TRUE(result.pattern.pieces.empty());
  EXPECT_EQ(result.patternProblem, "");
  EXPECT_EQ(document->objects().size(), 1u) << "the document as it was";
}

TEST(Summary, SheetsFillIsShortHoweverManySheetsThereAre) {
  EXPECT_EQ(job::sheetsFill({0.42}), "1 sheet, 42 % full");
  EXPECT_EQ(job::sheetsFill({0.4, 0.62}), "2 sheets, 40 % and 62 % full");
  EXPECT_EQ(job::sheetsFill({0.4, 0.62, 0.18}), "3 sheets, 40 %, 62 % and 18 % full");
  std::vector<double> many(494, 0.2);
  many[7] = 0.071;
  many[300] = 0.349;
  EXPECT_EQ(job::sheetsFill(many), "494 sheets, 7\u201335 % full");
  EXPECT_EQ(job::sheetsFill(std::vector<double>(5, 0.5)), "5 sheets, 50 % full");
}

TEST(Summary, ShortEdgesOnPaperAreWarnedOfWithTheScaleThatMendsThem) {
  // A level-4 icosphere of radius 10: edges about 0.8 units.
  scene::Document ball;
  ball.append(testing_support::icosphere(4, 10));
  job::selectObjects(ball, {}, nullptr);
  const double edge = job::medianEdge(ball);
  EXPECT_NEAR(edge, 0.78, 0.08);
  EXPECT_EQ(job::shortEdgesWarning(edge, 10, 20), "") << "7.8 mm edges are long enough";
  const std::string w = job::shortEdgesWarning(edge, 1, 20);
  EXPECT_NE(w.find("are 0.8 mm or shorter"), std::string::npos) << w;
  // The suggested scale, typed again, gives edges of at least 3 mm.
  const auto at = w.find("--scale ");
  ASSERT_NE(at, std::string::npos) << w;
  const double scale = std::stod(w.substr(at + 8));
  EXPECT_GE(edge * scale, job::kShortestEdgeToBuild) << w;
  EXPECT_LT(edge * scale, 1.1 * job::kShortestEdgeToBuild) << w;
  EXPECT_EQ(job::shortEdgesWarning(0, 1, 20), "") << "no edges, nothing to say";
  EXPECT_EQ(job::shortEdgesWarning(std::numeric_limits<double>::quiet_NaN(), 1, 20), "");
}

TEST_F(ModuleRun, ARunBrokenOffAtAProgressReportLeavesTheDocumentAsItWasAndTheNextRunIsWhole) {
  job::Settings settings;
  const auto ball = [] {
    auto document = std::make_unique<scene::Document>();
    document->append(bumpySphere(4, 3));
    job::selectObjects(*document, {}, nullptr);
    return document;
  };
  for (const char* stage : {"Reading objects", "Cutting into pieces", "Placing glue tabs"}) {
    auto document = ball();
    const scene::Object* original = document->objects().front().get();
    job::Unfolding unfolding;
    unfolding.settings = settings;
    unfolding.scale = 10;
    unfolding.pattern = true;
    // The break comes from another thread, as a studio's stop does, once the stage reports.
    std::atomic<bool> reached{false}, sent{false};
    std::thread stopper([&] {
      while (!reached) std::this_thread::yield();
      module_.breakRun();
      sent = true;
    });
    job::RunResult result;
    std::vector<std::string> stages;
    module_.unfold(document, unfolding, "", [&](const job::Progress& p) {
      if (stages.empty() || stages.back() != p.stage) stages.push_back(p.stage);
      if (p.stage == stage && !reached) {
        reached = true;
        // The other thread asks before the next report.
        for (int i = 0; i < 2000 && !sent; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }, &result);
    reached = true;
    stopper.join();
    EXPECT_EQ(result.outcome, job::RunResult::Outcome::Broken) << stage;
    EXPECT_FALSE(result.recorded) << stage;
    EXPECT_EQ(document->undoCount(), 0u) << stage;
    ASSERT_EQ(document->objects().size(), 1u) << stage;
    EXPECT_EQ(document->objects().front().get(), original) << "the model as it was";
    EXPECT_EQ(stages.back(), stage) << "nothing ran past the break";
  }
  // A break asked between runs is forgotten: the next run goes to its end, and the unfolding
  // reports its stages on the way.
  module_.breakRun();
  std::vector<std::string> stages;
  auto document = ball();
  job::Unfolding unfolding;
  unfolding.settings = settings;
  unfolding.scale = 10;
  job::RunResult result;
  module_.unfold(document, unfolding, "", [&](const job::Progress& p) {
    if (stages.empty() || stages.back() != p.stage) stages.push_back(p.stage);
  }, &result);
  EXPECT_EQ(result.outcome, job::RunResult::Outcome::Ran);
  EXPECT_TRUE(result.recorded);
  for (const char* stage : {"Reading objects", "Cutting into pieces", "Placing glue tabs", "Building pieces"}) {
    EXPECT_NE(std::find(stages.begin(), stages.end(), stage), stages.end()) << stage;
  }
  // Once the pieces go into the document a break comes too late: the run ends whole, never
  // with some pieces in and the rest lost.
  auto late = ball();
  bool asked = false;
  job::RunResult whole;
  module_.unfold(late, unfolding, "", [&](const job::Progress& p) {
    if (p.stage == std::string("Building pieces") && !asked) {
      asked = true;
      module_.breakRun();
    }
  }, &whole);
  EXPECT_TRUE(asked);
  EXPECT_EQ(whole.outcome, job::RunResult::Outcome::Ran);
  EXPECT_TRUE(whole.recorded);
  EXPECT_GT(late->objects().size(), 1u) << "the pieces are in";
}
