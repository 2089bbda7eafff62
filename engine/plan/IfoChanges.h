// Which named header fields and tables of an IFO differ between two images of it: what a repair
// changed, or would change. Tables are compared by their own bytes wherever each image puts
// them, so a table that only moved (another one before it grew) does not count as changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex {

// Names such as "VTS_LAST_SECTOR", "VTS_C_ADT", "VTS_TMAPT (added)", "file size", in header
// order then table order; empty when the images are the same.
std::vector<std::string> IfoChanges(const std::vector<uint8_t>& before,
                                    const std::vector<uint8_t>& after, bool vmg);

}  // namespace dorvex
