// Progress of a long stage, shown in the host's status bar, and the point where a run that the
// host asked to break off stops. Writes nothing to the console.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/host.h"

namespace foldra::host {

/// Thrown at a progress report once the host asked to break the run off; the run driver catches
/// it before the document is changed.
struct RunBroken {};

/// Set by the host's break message (from any thread), cleared when a run starts.
std::atomic<bool>& breakAsked();

/// Throws RunBroken when the host asked to break the run off.
inline void breakPoint() {
  if (breakAsked().load(std::memory_order_relaxed)) throw RunBroken{};
}

class StageProgress {
 public:
  /// A stage of `total` steps named `text`.
  StageProgress(const char* text, std::int64_t total) : text_(text), total_(total) {
    breakPoint();
    report(0);
  }
  /// Reports `done` steps; the host hears of it only when the percentage changes. Where the
  /// host asked to break the run off, throws RunBroken.
  void step(std::int64_t done) {
    breakPoint();
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
