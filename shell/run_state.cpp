#include "host/run_state.h"

#include "geometry/gt.h"
#include "shell/execute.h"
#include "unfold/gtc.h"

namespace foldra {

Settings settings;
RunState run;

void clearTriangleLists() {
  for (auto& list : run.gtvec) {
    for (auto& t : list) releaseTabs(*t);
    list.clear();
  }
  run.gtvec.clear();
}

void clearContainers() { run.containers.clear(); }

std::int32_t layoutMode(std::int32_t alsAnimation) {
  return alsAnimation == 0 ? 0 : (alsAnimation == 2 ? 2 : 1);
}

}  // namespace foldra
