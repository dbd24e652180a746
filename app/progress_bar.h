// Progress on the terminal: the stage and a bar, on one line of stderr that is redrawn.
#pragma once

#include <string>

#include "job/progress.h"

namespace app {

class ProgressBar {
 public:
  /// Shows nothing unless `enabled` (stderr is a terminal and the user did not ask for quiet).
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  ~ProgressBar() { clear(); }
  /// A stage without a bar, or with its bar.
  void show(const job::Progress& progress);
  /// Removes the line.
  void clear();

 private:
  void draw(const std::string& line);
  bool enabled_;
  bool shown_ = false;
  std::string last_;
};

}  // namespace app
