// The adapter latency a console user gets to see: a column of --list-ports
// and one hint line for a port whose adapter holds replies back.
#pragma once

#include <string>

namespace pelmark::cli {

// "latency 16 ms" for a known timer; empty when it is unknown (-1).
std::string LatencyColumn(int timerMs);

// One line of --list-ports: COM name, tab, friendly name, and where the
// timer is known, tab and its column. The friendly name may come from the
// adapter itself (its USB product text), so names are shown escaped like every
// other text.
std::string PortListLine(const std::string& name, const std::string& friendly, int timerMs);

// The hint for COM<portIndex+1> (device path beside it, may be empty) whose
// adapter holds received bytes up to timerMs: what it costs and how to lower
// it, the Linux way (sysfs file, udev rule) or the Windows way (the adapter's
// advanced port settings). Empty at 1 ms or less and when the timer is
// unknown.
std::string LatencyHint(int timerMs, int portIndex, const std::string& devicePath, bool windows);

// The hint for the selected port as the serial link opened it.
std::string SelectedPortLatencyHint();

}  // namespace pelmark::cli
