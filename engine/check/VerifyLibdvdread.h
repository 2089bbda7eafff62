// What libdvdread, the reader behind most Linux players, asks of an IFO when it opens it
// (ifoOpen): the tables it requires and refuses when they cannot be read, and the value checks
// it complains about on the fields this program writes. A disc that libdvdread refuses must
// never pass the check.
#pragma once

#include "engine/check/VerifyReport.h"

namespace dorvex {

class CIfoFile;

void VerifyLibdvdreadOpen(CIfoFile& ifo, CVerifyReport& report);

}  // namespace dorvex
