// Where a job stands: the command line draws it as a bar, the studio's page polls it.
#pragma once

#include <functional>
#include <string>

namespace job {

struct Progress {
  /// A job is under way.
  bool running = false;
  /// How far the stage has come, 0 to 100; -1 for a stage that shows no bar.
  int percent = -1;
  std::string stage;
  /// Status-bar reports the module sent during the job.
  int reports = 0;
};

/// Told every change of the progress.
using ProgressHandler = std::function<void(const Progress&)>;

}  // namespace job
