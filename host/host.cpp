#include "host/host.h"

#include "host/progress.h"
#include "host/trace.h"

namespace foldra::host {

namespace {
sdk::HostInterface* operations = nullptr;
}

void install(sdk::HostInterface* ops) { operations = ops; }

sdk::HostInterface* installed() { return operations; }

sdk::HostInterface& api() { return *operations; }

std::atomic<bool>& breakAsked() {
  static std::atomic<bool> asked{false};
  return asked;
}

}  // namespace foldra::host

namespace foldra {

void consoleLine(const host::String& line) { host::api().consolePrint(line.str()); }

}  // namespace foldra
