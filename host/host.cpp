#include "host/host.h"

namespace foldra::host {

namespace {
sdk::HostInterface* operations = nullptr;
}

void install(sdk::HostInterface* ops) { operations = ops; }

sdk::HostInterface* installed() { return operations; }

sdk::HostInterface& api() { return *operations; }

}  // namespace foldra::host
