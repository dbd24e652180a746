#include "shell/run_state.h"

#include "host/host.h"
#include "shell/trace.h"

namespace foldra {

Settings settings;
RunState run;

void consoleLine(const host::String& line) { host::api().consolePrint(line.str()); }

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
