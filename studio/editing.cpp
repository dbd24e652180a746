// Editing the pieces at an edge: what an edge is (its partner, its name on the sheets, its tab),
// and the edits that mark it (cut here, join here, the tab's side, no tab), each a run of the
// module with every other edge as the run the person edited left it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>

#include "job/pattern_files.h"
#include "studio/context.h"
#include "studio/checks.h"
#include "studio/edits.h"
#include "studio/http.h"
#include "studio/kept.h"

namespace studio {

using nlohmann::json;

namespace {

struct Copy {
  int piece = -1, triangle = -1, side = -1;
};

/// The copy a request names (query or body), checked against the run's pieces.
bool copyOf(const json& in, const RunRecord& run, Copy* c, std::string* error) {
  for (const char* key : {"piece", "triangle", "side"}) {
    if (!in.contains(key) || !in[key].is_number_integer()) return *error = std::string("name the edge's \"") + key + "\"", false;
  }
  const auto piece = in["piece"].get<std::int64_t>(), triangle = in["triangle"].get<std::int64_t>(), side = in["side"].get<std::int64_t>();
  if (piece < 0 || piece >= static_cast<std::int64_t>(run.edges.size())) {
    return *error = "the run has no piece " + std::to_string(piece), false;
  }
  const auto& triangles = run.edges[static_cast<std::size_t>(piece)];
  if (triangle < 0 || triangle >= static_cast<std::int64_t>(triangles.size()) || side < 0 || side > 2) {
    return *error = "piece " + std::to_string(piece) + " has no triangle " + std::to_string(triangle) + " with a side " + std::to_string(side), false;
  }
  *c = Copy{static_cast<int>(piece), static_cast<int>(triangle), static_cast<int>(side)};
  return true;
}

const job::EdgeCopy& at(const RunRecord& run, const Copy& c) {
  return run.edges[static_cast<std::size_t>(c.piece)][static_cast<std::size_t>(c.triangle)][static_cast<std::size_t>(c.side)];
}

Copy otherOf(const job::EdgeCopy& e) { return Copy{e.otherPiece, e.otherTriangle, e.otherSide}; }

/// The piece's number on the sheets (input order to printed), or its place from 1.
int printed(RunRecord& run, int piece) {
  if (run.pattern) {
    const auto& pieces = run.pattern->layout().pieces;
    if (piece >= 0 && static_cast<std::size_t>(piece) < pieces.size()) return pieces[static_cast<std::size_t>(piece)].number;
  }
  return piece + 1;
}

/// The name the sheets print on a cut edge's copies; "" without a pattern.
std::string nameOf(RunRecord& run, const Copy& c) {
  if (!run.pattern) return "";
  const pattern::PatternInput& input = run.pattern->input();
  if (static_cast<std::size_t>(c.piece) >= input.pieces.size()) return "";
  const pattern::Piece& piece = input.pieces[static_cast<std::size_t>(c.piece)];
  if (static_cast<std::size_t>(c.triangle) >= piece.triangles.size()) return "";
  const auto& p = piece.triangles[static_cast<std::size_t>(c.triangle)].p;
  const pattern::Point2 a = p[static_cast<std::size_t>(c.side)], b = p[static_cast<std::size_t>((c.side + 1) % 3)];
  std::vector<int> numbers;
  for (const auto& placed : run.pattern->layout().pieces) numbers.push_back(placed.number);
  const auto names = pattern::edgeNames(input, numbers);
  for (std::size_t e = 0; e < piece.edges.size(); ++e) {
    const pattern::Edge& edge = piece.edges[e];
    if (edge.kind == pattern::EdgeKind::Cut && edge.a.x == a.x && edge.a.y == a.y && edge.b.x == b.x && edge.b.y == b.y) {
      return names[static_cast<std::size_t>(c.piece)][e];
    }
  }
  return "";
}

/// A copy's side on its sheet: {"sheet" (from 1), "a": [x, y], "b": [x, y]} in millimetres from
/// the page's top-left corner, y down, as the page shows a sheet; null without a pattern.
json onSheet(RunRecord& run, const Copy& c) {
  if (!run.pattern) return nullptr;
  const pattern::PatternInput& input = run.pattern->input();
  const pattern::Packing& packing = run.pattern->packing();
  if (static_cast<std::size_t>(c.piece) >= input.pieces.size() || static_cast<std::size_t>(c.piece) >= packing.positions.size()) return nullptr;
  const auto& piece = input.pieces[static_cast<std::size_t>(c.piece)];
  if (static_cast<std::size_t>(c.triangle) >= piece.triangles.size()) return nullptr;
  const pattern::Position& at = packing.positions[static_cast<std::size_t>(c.piece)];
  const pattern::PatternOptions& options = run.pattern->options();
  const auto& p = piece.triangles[static_cast<std::size_t>(c.triangle)].p;
  const pattern::Point2 a = pattern::sheetPoint(at, options.scale, p[static_cast<std::size_t>(c.side)]);
  const pattern::Point2 b = pattern::sheetPoint(at, options.scale, p[static_cast<std::size_t>((c.side + 1) % 3)]);
  return {{"sheet", at.sheet + 1}, {"a", {a.x, options.pageHeight - a.y}}, {"b", {b.x, options.pageHeight - b.y}}};
}

const char* kindName(job::EdgeCopy::Kind kind) {
  return kind == job::EdgeCopy::Kind::Fold ? "fold" : kind == job::EdgeCopy::Kind::Cut ? "cut" : "open";
}

// --- why two pieces cannot be joined at an edge ---------------------------------------------

/// Why the pieces of copy c and of its partner d (on another piece) could not be one piece
/// joined there: "" when the faces alone do not tell.
std::string joinRefusal(RunRecord& run, const Copy& c, const Copy& d) {
  if (!run.pattern) return "";
  const pattern::PatternInput& input = run.pattern->input();
  const auto& A = input.pieces[static_cast<std::size_t>(c.piece)].triangles;
  const auto& B = input.pieces[static_cast<std::size_t>(d.piece)].triangles;
  // The hinge: d's side, run the other way, onto c's.
  const auto& tc = A[static_cast<std::size_t>(c.triangle)].p;
  const auto& td = B[static_cast<std::size_t>(d.triangle)].p;
  const pattern::Point2 a0 = tc[static_cast<std::size_t>((c.side + 1) % 3)], a1 = tc[static_cast<std::size_t>(c.side)];
  const pattern::Point2 b0 = td[static_cast<std::size_t>(d.side)], b1 = td[static_cast<std::size_t>((d.side + 1) % 3)];
  const double turn = std::atan2(a1.y - a0.y, a1.x - a0.x) - std::atan2(b1.y - b0.y, b1.x - b0.x);
  const double cs = std::cos(turn), sn = std::sin(turn);
  auto moved = [&](pattern::Point2 p) {
    const double x = p.x - b0.x, y = p.y - b0.y;
    return pattern::Point2{a0.x + cs * x - sn * y, a0.y + sn * x + cs * y};
  };
  double reach = 0;
  for (const auto& t : A) {
    for (const auto& p : t.p) reach = std::max({reach, std::fabs(p.x), std::fabs(p.y)});
  }
  const double depth = 1e-6 * std::max(1.0, reach);
  std::vector<Flat> placed;
  for (const auto& t : B) placed.push_back({moved(t.p[0]), moved(t.p[1]), moved(t.p[2])});
  const int pa = printed(run, c.piece), pb = printed(run, d.piece);
  std::vector<Flat> fixed;
  for (const auto& t : A) fixed.push_back({t.p[0], t.p[1], t.p[2]});
  if (anyOverlap(fixed, &placed, depth)) {
    return "Not joined: laid out together, pieces " + std::to_string(pa) + " and " + std::to_string(pb) + " would overlap.";
  }
  // The page: the pieces together, at the best of a half turn of angles, within the printable
  // area either way up.
  const pattern::PatternOptions& options = run.pattern->options();
  const double width = options.pageWidth - 2 * options.margin, height = options.pageHeight - 2 * options.margin;
  std::vector<pattern::Point2> all;
  for (const auto& t : A) all.insert(all.end(), t.p.begin(), t.p.end());
  for (const Flat& t : placed) all.insert(all.end(), t.begin(), t.end());
  bool fits = false;
  for (int step = 0; step < 180 && !fits; ++step) {
    const double angle = step * std::numbers::pi / 180;
    const double c0 = std::cos(angle), s0 = std::sin(angle);
    double minX = std::numeric_limits<double>::infinity(), minY = minX, maxX = -minX, maxY = -minX;
    for (const pattern::Point2& p : all) {
      const double x = c0 * p.x - s0 * p.y, y = s0 * p.x + c0 * p.y;
      minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    const double w = (maxX - minX) * run.scale, h = (maxY - minY) * run.scale;
    fits = (w <= width && h <= height) || (w <= height && h <= width);
  }
  if (!fits) {
    return "Not joined: together, pieces " + std::to_string(pa) + " and " + std::to_string(pb) +
           " do not fit the printable area of the page (" + job::typed(width) + " × " + job::typed(height) + " mm).";
  }
  return "";
}

/// The copy of the new run that is the same side of the same source triangle as `c` was.
bool find(const RunRecord& run, const job::EdgeCopy& c, job::EdgeCopy* out) {
  for (const auto& piece : run.edges) {
    for (const auto& triangle : piece) {
      for (const job::EdgeCopy& e : triangle) {
        if (e.object == c.object && e.polygon == c.polygon && e.side == c.side) return *out = e, true;
      }
    }
  }
  return false;
}

}  // namespace

void edgeInfo(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  RunRecord* run = s->document ? const_cast<RunRecord*>(s->current()) : nullptr;
  if (!run || run->edges.empty()) return refuse(res, 409, "unfold the model first: edges belong to a run's pieces");
  json query = json::object();
  for (const char* key : {"piece", "triangle", "side"}) {
    try {
      if (req.has_param(key)) query[key] = std::stoll(req.get_param_value(key));
    } catch (const std::exception&) {
      return refuse(res, 400, std::string("\"") + key + "\" must be a number");
    }
  }
  Copy c;
  std::string error;
  if (!copyOf(query, *run, &c, &error)) return refuse(res, 400, error);
  const job::EdgeCopy& e = at(*run, c);
  json out = {{"piece", c.piece}, {"triangle", c.triangle}, {"side", c.side}, {"kind", kindName(e.kind)},
              {"number", printed(*run, c.piece)}, {"onSheet", onSheet(*run, c)}};
  const std::int32_t edge = s->modelEdges.sourceEdge(e);
  out["object"] = e.object;
  out["edge"] = edge;
  out["marks"] = {{"cut", (e.marks & foldra::kMarkCut) != 0}, {"fold", (e.marks & foldra::kMarkFold) != 0},
                  {"tab", (e.marks & foldra::kMarkTab) != 0}, {"noTab", (e.marks & foldra::kMarkNoTab) != 0}};
  out["edited"] = edge >= 0 && (run->edits.has(e.object, edge, EdgeMarks::kCut) || run->edits.has(e.object, edge, EdgeMarks::kFold) ||
                                run->edits.has(e.object, edge, EdgeMarks::kTab) || run->edits.has(e.object, edge, EdgeMarks::kNoTab));
  if (e.kind == job::EdgeCopy::Kind::Open) {
    out["partner"] = nullptr;
    out["tab"] = "none";
    out["name"] = "";
    return answer(res, out);
  }
  const Copy d = otherOf(e);
  const job::EdgeCopy& other = at(*run, d);
  out["partner"] = {{"piece", d.piece}, {"triangle", d.triangle}, {"side", d.side}, {"number", printed(*run, d.piece)},
                    {"onSheet", onSheet(*run, d)}};
  out["tab"] = e.tab ? "here" : other.tab ? "partner" : "none";
  out["name"] = e.kind == job::EdgeCopy::Kind::Cut ? nameOf(*run, c) : "";
  answer(res, out);
}

void sheetEdge(Context& context, const httplib::Request& req, httplib::Response& res) {
  Reading s = context.sessions.read(req, res);
  if (!s) return;
  RunRecord* run = s->document ? const_cast<RunRecord*>(s->current()) : nullptr;
  if (!run || run->edges.empty() || !run->pattern) return refuse(res, 409, "unfold the model first: edges belong to a run's pieces");
  double sheet = 0, x = 0, y = 0;
  try {
    sheet = std::stod(req.get_param_value("sheet"));
    x = std::stod(req.get_param_value("x"));
    y = std::stod(req.get_param_value("y"));
  } catch (const std::exception&) {
    return refuse(res, 400, "name the sheet (from 1) and the point on it in millimetres (x, y from the top left)");
  }
  if (!std::isfinite(sheet) || !std::isfinite(x) || !std::isfinite(y)) return refuse(res, 400, "the sheet and the point are numbers");
  const pattern::PatternInput& input = run->pattern->input();
  const pattern::Packing& packing = run->pattern->packing();
  const pattern::PatternOptions& options = run->pattern->options();
  const pattern::Point2 at{x, options.pageHeight - y};
  // The nearest side within reach of a finger's width on paper.
  constexpr double kReach = 3;
  double nearest = kReach;
  Copy best;
  for (std::size_t p = 0; p < input.pieces.size() && p < packing.positions.size() && p < run->edges.size(); ++p) {
    const pattern::Position& position = packing.positions[p];
    if (position.sheet + 1 != static_cast<int>(sheet)) continue;
    const auto& triangles = input.pieces[p].triangles;
    for (std::size_t t = 0; t < triangles.size() && t < run->edges[p].size(); ++t) {
      for (int k = 0; k < 3; ++k) {
        const pattern::Point2 a = pattern::sheetPoint(position, options.scale, triangles[t].p[static_cast<std::size_t>(k)]);
        const pattern::Point2 b = pattern::sheetPoint(position, options.scale, triangles[t].p[static_cast<std::size_t>((k + 1) % 3)]);
        const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
        const double u = length2 > 0 ? std::clamp(((at.x - a.x) * dx + (at.y - a.y) * dy) / length2, 0.0, 1.0) : 0;
        const double d = std::hypot(a.x + u * dx - at.x, a.y + u * dy - at.y);
        if (d < nearest) nearest = d, best = Copy{static_cast<int>(p), static_cast<int>(t), k};
      }
    }
  }
  if (best.piece < 0) return refuse(res, 404, "no edge of a piece there");
  answer(res, {{"piece", best.piece}, {"triangle", best.triangle}, {"side", best.side}});
}

void place(Context& context, const httplib::Request& req, httplib::Response& res) {
  json body;
  if (!readBody(req, res, "the move", &body)) return;
  for (const char* key : {"piece", "sheet", "dx", "dy", "turn"}) {
    if (!body.is_object() || !body.contains(key) || !body[key].is_number() || !std::isfinite(body[key].get<double>())) {
      return refuse(res, 400, std::string("a move names \"piece\", \"sheet\", \"dx\", \"dy\" and \"turn\" as numbers (\"") + key + "\")");
    }
  }
  Changing s = context.sessions.change(req, res, "busy: this session is already running the module");
  if (!s) return;
  if (staleRequest(req, *s, res)) return;
  RunRecord* run = s->document ? const_cast<RunRecord*>(s->current()) : nullptr;
  if (!run || !run->pattern) return refuse(res, 409, "unfold the model first: pieces are moved on the sheets of a run");
  if (s->history.empty()) s->history.assign(1, run->form), s->historyAt = 0;
  const pattern::PatternInput& input = run->pattern->input();
  const pattern::Packing& packing = run->pattern->packing();
  const pattern::PatternOptions& options = run->pattern->options();
  const auto piece = body["piece"].get<double>(), sheet = body["sheet"].get<double>();
  if (piece < 0 || piece >= static_cast<double>(input.pieces.size()) || piece != std::floor(piece)) {
    return refuse(res, 400, "the run has no such piece");
  }
  if (sheet < 1 || sheet > packing.sheets + 1 || sheet != std::floor(sheet)) {
    return refuse(res, 400, "a piece goes on one of the sheets, or on a new one after the last");
  }
  const double dx = body["dx"].get<double>(), dy = body["dy"].get<double>(), turn = body["turn"].get<double>();
  if (std::fabs(dx) > 1e5 || std::fabs(dy) > 1e5 || std::fabs(turn) > 3600) return refuse(res, 400, "Not moved: the move is too large (at most 100000 mm and 3600°)");
  const auto p = static_cast<std::size_t>(piece);
  const pattern::Position& was = packing.positions[p];
  const job::PlacedPiece& box = run->pattern->layout().pieces[p];
  // Turned about the middle of its box, then moved; page millimetres run down, sheet ones up.
  const double cx = box.left + box.width / 2, cy = options.pageHeight - (box.top + box.height / 2);
  const double angle = turn * std::numbers::pi / 180, c = std::cos(angle), sn = std::sin(angle);
  pattern::Position wanted = was;
  wanted.piece = static_cast<int>(p);
  wanted.sheet = static_cast<int>(sheet) - 1;
  wanted.rotation = was.rotation + angle;
  const double ox = was.offset.x - cx, oy = was.offset.y - cy;
  wanted.offset = {cx + c * ox - sn * oy + dx, cy + sn * ox + c * oy - dy};
  const int number = printed(*run, static_cast<int>(p));
  if (const std::string problem = pattern::placementProblem(input, options, packing, wanted); !problem.empty()) {
    return refuse(res, 409, "Not moved: piece " + std::to_string(number) + " " + problem + ".");
  }
  std::vector<pattern::Position> placed;
  std::string error;
  if (!readPlacements(run->form.value("placements", json()), &placed, &error)) placed.clear();
  std::erase_if(placed, [&](const pattern::Position& q) { return q.piece == wanted.piece; });
  placed.push_back(wanted);
  std::sort(placed.begin(), placed.end(), [](const pattern::Position& a, const pattern::Position& b) { return a.piece < b.piece; });
  json next = run->form;
  next["placements"] = placementsJson(placed);
  EdgeMarks used, edits;
  if (!readMarks(next.value("marks", json()), s->modelEdges, &used, &error) ||
      !readMarks(next.value("edits", json()), s->modelEdges, &edits, &error)) {
    return refuse(res, 500, "the run's marks no longer fit the model: " + error);
  }
  CopyRun made;
  if (!runOnCopy(context, req, *s, next, used, &made, res)) return;
  keepCopy(*s, std::move(made), std::move(next), used, edits, res);
}

void edit(Context& context, const httplib::Request& req, httplib::Response& res) {
  json body;
  if (!readBody(req, res, "the edit", &body)) return;
  if (!body.is_object()) return refuse(res, 400, "the edit is a JSON object with \"piece\", \"triangle\", \"side\" and \"action\"");
  const std::string action = body.contains("action") && body["action"].is_string() ? body["action"].get<std::string>() : "";
  if (action != "cut" && action != "join" && action != "tab" && action != "no-tab" && action != "free") {
    return refuse(res, 400, "\"action\" is one of \"cut\", \"join\", \"tab\", \"no-tab\" and \"free\"");
  }
  Changing s = context.sessions.change(req, res, "busy: this session is already running the module");
  if (!s) return;
  if (staleRequest(req, *s, res)) return;
  RunRecord* run = s->document ? const_cast<RunRecord*>(s->current()) : nullptr;
  if (!run || run->edges.empty()) return refuse(res, 409, "unfold the model first: edits change the pieces of a run");
  Copy c;
  std::string error;
  if (!copyOf(body, *run, &c, &error)) return refuse(res, 400, error);
  // A session whose run came back from the disk starts its history of edits with that run.
  if (s->history.empty()) s->history.assign(1, run->form), s->historyAt = 0;
  const job::EdgeCopy e = at(*run, c);
  if (e.kind == job::EdgeCopy::Kind::Open) {
    return refuse(res, 409, "this is an open edge of the model: there is nothing to cut, join or glue there");
  }
  const Copy d = otherOf(e);
  const job::EdgeCopy other = at(*run, d);
  const std::int32_t edge = s->modelEdges.sourceEdge(e), otherEdge = s->modelEdges.sourceEdge(other);
  if (edge < 0 || otherEdge < 0) {
    return refuse(res, 409, "this edge is the diagonal of a four-sided face of the model, which the model does not name: it cannot be marked");
  }
  const int pa = printed(*run, c.piece), pb = printed(*run, d.piece);
  EdgeMarks edits = run->edits;
  auto both = [&](EdgeMarks::Kind kind, bool on) {
    for (const auto& [object, id] : {std::pair{e.object, edge}, std::pair{other.object, otherEdge}}) {
      if (on) {
        edits.mark(object, id, kind);
      } else {
        edits.unmark(object, id, kind);
      }
    }
  };
  if (action == "cut") {
    if (e.kind != job::EdgeCopy::Kind::Fold) return refuse(res, 409, "this edge is cut already");
    both(EdgeMarks::kCut, true);
  } else if (action == "join") {
    if (e.kind != job::EdgeCopy::Kind::Cut) return refuse(res, 409, "this edge is a fold already");
    if (c.piece == d.piece) {
      return refuse(res, 409, "Not joined: both sides of this edge lie on piece " + std::to_string(pa) +
                                  ", a seam inside the piece. To close it, cut the piece at another edge first.");
    }
    const std::string why = joinRefusal(*run, c, d);
    if (!why.empty()) return refuse(res, 409, why);
    both(EdgeMarks::kFold, true);
  } else {
    if (e.kind != job::EdgeCopy::Kind::Cut) return refuse(res, 409, "only a cut edge has a glue tab");
    both(EdgeMarks::kTab, false);
    both(EdgeMarks::kNoTab, false);
    if (action == "tab") edits.mark(e.object, edge, EdgeMarks::kTab);
    if (action == "no-tab") both(EdgeMarks::kNoTab, true);
  }
  // Every other edge stays as the run the person edited left it.
  EdgeMarks used = pinnedMarks(run->edges, s->modelEdges);
  used.overrideWith(edits);
  json next = run->form;
  next["marks"] = used.toJson();
  next["edits"] = edits.toJson();
  // Pieces placed by hand are named by their place in the run: an edit may make other pieces.
  next.erase("placements");

  CopyRun made;
  if (!runOnCopy(context, req, *s, next, used, &made, res)) return;
  // The edit holds only where the new run did what it asked; else the session stays as it was.
  job::EdgeCopy now;
  RunRecord probe;
  probe.edges = made.result.edges;
  const bool found = find(probe, e, &now);
  if (action == "join" && (!found || now.kind != job::EdgeCopy::Kind::Fold)) {
    return refuse(res, 409, "Not joined: one piece of pieces " + std::to_string(pa) + " and " + std::to_string(pb) +
                                " would leave a cut edge without room for its glue tab, or would not lie flat without overlap.");
  }
  if (action == "tab" && (!found || !now.tab)) {
    return refuse(res, 409, "No tab moved: on piece " + std::to_string(pa) +
                                " a glue tab on this edge would lie over the piece or its tabs, or leave the page.");
  }
  keepCopy(*s, std::move(made), std::move(next), used, edits, res);
}

}  // namespace studio
