// Devices of the setup class "Ports" made for a test, as a port driver's
// installation makes them: a root-enumerated device with a friendly name and
// "PortName" in its hardware key. Wine lists its COM ports only under
// HARDWARE\DEVICEMAP\SERIALCOMM, so discovery finds nothing there without
// these. Making one needs administrator rights on Windows.
#pragma once

#include <string>

namespace pelmark::test {

// Registers a device ROOT\<enumeratorName>\NNNN; its instance id, or empty
// when the system refused (with the reason in `error`).
std::string RegisterPortDevice(const std::string& enumeratorName, const std::string& portName,
                               const std::string& friendlyName, std::string* error = nullptr);

// Removes a device made by RegisterPortDevice; false when it is not there.
bool RemovePortDevice(const std::string& instanceId);

}  // namespace pelmark::test
