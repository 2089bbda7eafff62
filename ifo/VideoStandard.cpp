#include "ifo/VideoStandard.h"

namespace dorvex {

int32_t g_nVideoStandard = kStandardUnknown;

}  // namespace dorvex
