#include "runtime/run_report.h"

#include <cmath>

#include "runtime/module_interface.h"

namespace runtime {

namespace {

/// The sink's state while a module describes its run.
struct Collector {
  RunReport* report = nullptr;
  /// The number of triangles each piece announced.
  std::vector<std::int32_t> announced;
  bool sound = true;
  std::string problem;

  void fail(std::string why) {
    if (sound) problem = std::move(why);
    sound = false;
  }
};

bool finite(const double* values, int count) {
  for (int i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) return false;
  }
  return true;
}

void onPiece(void* context, std::int32_t index, std::int32_t triangles) {
  auto& c = *static_cast<Collector*>(context);
  if (index != static_cast<std::int32_t>(c.report->pieces.size()) || triangles < 0) {
    return c.fail("piece " + std::to_string(index) + " out of order");
  }
  c.announced.push_back(triangles);
  c.report->pieces.emplace_back().triangles.reserve(static_cast<std::size_t>(triangles));
}

RunSide side(const sdk::RunSide& in) {
  RunSide out;
  out.kind = in.kind == sdk::kSideFold ? RunSide::Kind::Fold : in.kind == sdk::kSideCut ? RunSide::Kind::Cut : RunSide::Kind::Open;
  out.foldDegrees = in.foldDegrees;
  out.valley = in.valley != 0;
  if (out.kind != RunSide::Kind::Open) {
    out.piece = in.piece;
    out.triangle = in.triangle;
    out.side = in.side;
  }
  out.hasTab = in.hasTab != 0;
  if (out.hasTab) out.tab = {{{in.tab[0][0], in.tab[0][1]}, {in.tab[1][0], in.tab[1][1]}}};
  out.edge = in.edge;
  out.marks = static_cast<std::uint8_t>(in.marks & 0xf);
  return out;
}

void onTriangle(void* context, const sdk::RunTriangle* in) {
  auto& c = *static_cast<Collector*>(context);
  if (!c.sound) return;
  if (c.report->pieces.empty() || !in) return c.fail("a triangle before any piece");
  if (!finite(&in->flat[0][0], 6) || !finite(&in->space[0][0], 9) || !finite(&in->uv[0][0], 6)) {
    return c.fail("a corner that is not a finite number");
  }
  RunTriangle t;
  for (std::size_t k = 0; k < 3; ++k) {
    t.flat[k] = {in->flat[k][0], in->flat[k][1]};
    t.space[k] = {in->space[k][0], in->space[k][1], in->space[k][2]};
    t.uv[k] = {in->uv[k][0], in->uv[k][1]};
    const sdk::RunSide& s = in->sides[k];
    if (!std::isfinite(s.foldDegrees) || (s.hasTab && !finite(&s.tab[0][0], 4))) {
      return c.fail("a fold or glue tab that is not a finite number");
    }
    if (s.edge < 0 || s.edge > 2) return c.fail("a side that names no edge of its polygon");
    t.sides[k] = side(s);
  }
  t.object = in->object;
  t.polygon = in->polygon;
  t.textureNumber = in->textureNumber;
  t.material = ModuleInterface::material(in->material);
  t.hasUV = in->hasUV != 0;
  c.report->pieces.back().triangles.push_back(t);
}

/// True when every fold and cut names a triangle of the report whose side names it back, and a
/// fold's other copy is in the same piece.
bool paired(const RunReport& report, std::string* problem) {
  for (std::size_t p = 0; p < report.pieces.size(); ++p) {
    const auto& triangles = report.pieces[p].triangles;
    for (std::size_t i = 0; i < triangles.size(); ++i) {
      for (std::size_t k = 0; k < 3; ++k) {
        const RunSide& s = triangles[i].sides[k];
        if (s.kind == RunSide::Kind::Open) continue;
        const bool inRange = s.piece >= 0 && static_cast<std::size_t>(s.piece) < report.pieces.size() && s.triangle >= 0 &&
                             static_cast<std::size_t>(s.triangle) < report.pieces[static_cast<std::size_t>(s.piece)].triangles.size() &&
                             s.side >= 0 && s.side < 3;
        const RunSide* back = inRange ? &report.pieces[static_cast<std::size_t>(s.piece)]
                                             .triangles[static_cast<std::size_t>(s.triangle)]
                                             .sides[static_cast<std::size_t>(s.side)]
                                      : nullptr;
        const bool mutual = back && back->kind == s.kind && back->piece == static_cast<std::int32_t>(p) &&
                            back->triangle == static_cast<std::int32_t>(i) && back->side == static_cast<std::int32_t>(k);
        if (!mutual || (s.kind == RunSide::Kind::Fold && s.piece != static_cast<std::int32_t>(p))) {
          *problem = "side " + std::to_string(k) + " of triangle " + std::to_string(i) + " of piece " + std::to_string(p) +
                     " names an edge that does not name it back";
          return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

bool collectRunReport(const std::function<bool(const sdk::RunReportSink&)>& ask, RunReport* report, std::string* error) {
  *report = RunReport{};
  Collector collector;
  collector.report = report;
  const sdk::RunReportSink sink{&collector, &onPiece, &onTriangle};
  if (!ask(sink)) {
    *error = "it did not describe its run";
    return false;
  }
  std::string problem = collector.problem;
  if (collector.sound) {
    for (std::size_t p = 0; p < report->pieces.size() && problem.empty(); ++p) {
      const auto& triangles = report->pieces[p].triangles;
      if (triangles.empty() || static_cast<std::int32_t>(triangles.size()) != collector.announced[p]) {
        problem = "piece " + std::to_string(p) + " has no triangles or another number than it announced";
      }
    }
  }
  if (problem.empty() && paired(*report, &problem)) return true;
  *report = RunReport{};
  *error = "its description of the run does not hold together (" + problem + ")";
  return false;
}

bool describeLastRun(Host& host, std::int32_t command, RunReport* report, std::string* error) {
  return collectRunReport(
      [&](const sdk::RunReportSink& sink) {
        return host.messageModule(command, sdk::kMessageDescribeRun, const_cast<sdk::RunReportSink*>(&sink)) == 1;
      },
      report, error);
}

void forgetLastRun(Host& host, std::int32_t command) { host.messageModule(command, sdk::kMessageForgetRun, nullptr); }

}  // namespace runtime
