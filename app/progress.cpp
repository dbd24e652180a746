#include "app/progress.h"

#include <cstdio>

namespace app {

void Progress::stage(const std::string& text) { draw(text + "..."); }

void Progress::bar(int percent, const std::string& text) {
  constexpr int width = 30;
  const int filled = percent * width / 100;
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(width - filled), '.');
  line += "] " + std::to_string(percent) + "% " + text;
  draw(line);
}

void Progress::clear() {
  if (!enabled_ || !shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
  last_.clear();
}

void Progress::draw(const std::string& line) {
  if (!enabled_ || line == last_) return;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  shown_ = true;
  last_ = line;
}

}  // namespace app
