// Progress of a long stage, shown in the host's status bar. Writes nothing to the console.
#pragma once

#include <cstdint>

#include "host/host.h"

namespace foldra::host {

class StageProgress {
 public:
  /// A stage of `total` steps named `text`.
  StageProgress(const char* text, std::int64_t total) : text_(text), total_(total) { report(0); }
  /// Reports `done` steps; the host hears of it only when the percentage changes.
  void step(std::int64_t done) {
    if (total_ > 0) report(static_cast<int>(done * 100 / total_));
  }

 private:
  void report(int percent) {
    if (percent == last_ || !installed()) return;
    last_ = percent;
    api().statusSet(percent, text_);
  }
  const char* text_;
  std::int64_t total_;
  int last_ = -1;
};

}  // namespace foldra::host
