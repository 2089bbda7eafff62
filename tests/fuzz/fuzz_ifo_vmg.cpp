// Arbitrary bytes as VIDEO_TS.IFO, through the menu repair, the size fields and the title-set
// trimming.
#include "FuzzProcess.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dorvex::testkit::PrepareFuzzProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dorvex::testkit;
    RequireConsistent(RunVmgIfoInput(data, size, ScratchFolder()));
    return 0;
}
