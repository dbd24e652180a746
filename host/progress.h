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
  /// A stage of `total` steps named `text`. A stage that changes the document is not
  /// `breakable`: once the first piece is in, the run goes to its end.
  StageProgress(const char* text, std::int64_t total, bool breakable = true) : text_(text), total_(total), breakable_(breakable) {
    if (breakable_) breakPoint();
    report(0);
  }
  /// Reports `done` steps; the host hears of it only when the percentage changes. Where the
  /// host asked to break the run off and the stage may be broken off, throws RunBroken.
  void step(std::int64_t done) {
    if (breakable_) breakPoint();
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
  bool breakable_;
  int last_ = -1;
};

}  // namespace foldra::host
