#include "host/host.h"

#include "host/trace.h"

namespace foldra::host {

namespace {
sdk::HostInterface* operations = nullptr;
}

void install(sdk::HostInterface* ops) { operations = ops; }

sdk::HostInterface* installed() { return operations; }

sdk::HostInterface& api() { return *operations; }

}  // namespace foldra::host

namespace foldra {

void consoleLine(const host::String& line) { host::api().consolePrint(line.str()); }

}  // namespace foldra
