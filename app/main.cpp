// foldra: turns 3D models into a paper model — flat pieces with glue tabs, as a scene, as mesh
// files and as a printable pattern — by running the paper-model module in our host.
#include <CLI/CLI.hpp>
#include <malloc.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "app/locate.h"
#include "app/manual.h"
#include "app/options.h"
#include "app/progress_bar.h"
#include "job/job.h"
#include "studio/serve.h"

namespace {

/// How the allocator keeps memory for a run of large meshes.
void keepMemoryForReuse() {
  // A large mesh allocates and frees big buffers stage after stage (and in each output's
  // thread): freed memory is kept for reuse instead of being handed back to the system and
  // faulted in again, which took a tenth of a large run.
  mallopt(M_TOP_PAD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // The outputs are written by a thread each. With an arena per thread, every writer would take
  // fresh memory while what the unfolding freed stays in the first arena: three outputs of a
  // large mesh peaked half again higher. One arena reuses it, and the writers hardly wait.
  mallopt(M_ARENA_MAX, 1);
}

int usage(const std::string& message) {
  std::fprintf(stderr, "foldra: %s\nRun foldra --help for the options.\n", message.c_str());
  return 2;
}

/// The lines after a run: the scale --fit-sheets found, how full the sheets are, and what was made
/// and written.
void printSummary(const job::Report& report, double seconds) {
  if (report.settings.fitSheets) {
    const int n = *report.settings.fitSheets;
    const auto& e = report.extent;
    std::printf("foldra: to fit %d sheet%s the model is %.0f x %.0f x %.0f mm (--scale %s)\n", n, n == 1 ? "" : "s",
                e[0] * report.scale, e[1] * report.scale, e[2] * report.scale, job::typed(report.scale).c_str());
  }
  // How full the sheets are, so that a scale or page size that wastes paper shows.
  if (!report.sheetFill.empty()) std::printf("foldra: pattern on %s\n", job::sheetsFill(report.sheetFill).c_str());
  const job::Summary& s = report.summary;
  std::string written;
  for (const auto& w : report.written) written += (written.empty() ? "" : ", ") + std::filesystem::relative(w).string();
  std::string bare =
      s.untabbed ? ", " + std::to_string(*s.untabbed) + " cut edge" + (*s.untabbed == 1 ? "" : "s") + " without a tab" : "";
  if (s.untabbed && s.untabbedByChoice > 0) bare += " (" + std::to_string(s.untabbedByChoice) + " marked so)";
  std::printf("foldra: %d object%s, %d triangles, %d piece%s, %d glue tabs%s, %.2f s; wrote %s\n", s.objects,
              s.objects == 1 ? "" : "s", s.triangles, s.pieces, s.pieces == 1 ? "" : "s", s.tabs, bare.c_str(), seconds,
              written.c_str());
}

/// One run from the command line: the job with a progress bar, its warnings and its summary.
int runJob(const app::CommandLine& line) {
  const auto start = std::chrono::steady_clock::now();
  app::ProgressBar bar(!line.quiet && isatty(fileno(stderr)));
  job::Report report;
  std::string error;
  const bool ran = job::run(line.request, line.settings, [&](const job::Progress& p) { bar.show(p); }, &report, &error);
  bar.clear();
  if (!ran) {
    std::fprintf(stderr, "foldra: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& w : report.warnings) std::fprintf(stderr, "foldra: warning: %s\n", w.c_str());
  if (!line.quiet) {
    printSummary(report, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  keepMemoryForReuse();
  CLI::App cli{app::programDescription(), "foldra"};
  app::CommandLine line;
  app::defineOptions(cli, &line);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return cli.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    return usage(e.what());
  }
  if (line.manualPage) {
    std::fputs(app::manualPage(cli).c_str(), stdout);
    return 0;
  }
  const app::Locations parts = app::locate(app::programFolder(argv[0]));
  if (*line.serve) {
    const std::string problem = app::readServe(&line, parts);
    return problem.empty() ? studio::serve(line.studio) : usage(problem);
  }
  const std::string problem = app::readRun(&line, parts);
  return problem.empty() ? runJob(line) : usage(problem);
}
