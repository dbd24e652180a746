#include "app/progress_bar.h"

#include <cstdio>

namespace app {

void ProgressBar::show(const job::Progress& progress) {
  if (progress.percent < 0) return draw(progress.stage + "...");
  constexpr int width = 30;
  const int filled = progress.percent * width / 100;
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(width - filled), '.');
  line += "] " + std::to_string(progress.percent) + "% " + progress.stage;
  draw(line);
}

void ProgressBar::clear() {
  if (!enabled_ || !shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
  last_.clear();
}

void ProgressBar::draw(const std::string& line) {
  if (!enabled_ || line == last_) return;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  shown_ = true;
  last_ = line;
}

}  // namespace app
