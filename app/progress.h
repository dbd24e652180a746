// Progress on the terminal: the stage and a bar, on one line of stderr that is redrawn.
#pragma once

#include <string>

namespace app {

class Progress {
 public:
  /// Shows nothing unless `enabled` (stderr is a terminal and the user did not ask for quiet).
  explicit Progress(bool enabled) : enabled_(enabled) {}
  ~Progress() { clear(); }
  /// A stage without a bar.
  void stage(const std::string& text);
  /// A stage with a bar; percent 0..100.
  void bar(int percent, const std::string& text);
  /// Removes the line.
  void clear();

 private:
  void draw(const std::string& line);
  bool enabled_;
  bool shown_ = false;
  std::string last_;
};

}  // namespace app
