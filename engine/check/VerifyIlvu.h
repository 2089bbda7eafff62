// The interleaved layout of a title domain (engine/ilvu/IlvuLayout.h) held against its IFO and
// stream: each played cell's cell address table entries are its pieces (its ILVUs, when
// interleaved) and its sectors reach from the first piece to the last, and every navpack of a
// played cell carries the ILVU and angle fields that the layout gives it.
#pragma once

#include "engine/check/VerifyReport.h"
#include "engine/check/VerifyStream.h"

namespace dorvex {

class CIfoFile;

void VerifyIlvuLayout(CIfoFile& ifo, const CVerifyStream& stream, CVerifyReport& report);

}  // namespace dorvex
