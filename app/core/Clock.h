// The clocks a run reads: the local time of the log's start and end lines, and the millisecond
// clock of the throughput estimate.
#pragma once

#include <cstdint>
#include <string>

namespace dorvex {

// The local time formatted with a strftime format such as "End Processing at %H:%M:%S".
std::string LocalTimeText(const char* format);

// A millisecond clock that wraps at 2^32, for the throughput estimate.
uint32_t MillisecondClock();

}  // namespace dorvex
