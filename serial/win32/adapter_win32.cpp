// The adapter facts on Windows: not looked up yet (SetupAPI would have them
// under the port's device instance), so a record names no adapter there.
#include "serial/adapter_facts.h"

namespace pelmark::serial {

std::optional<AdapterFacts> UsbAdapterFacts(const std::string&) { return std::nullopt; }

}  // namespace pelmark::serial
