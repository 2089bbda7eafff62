// Arbitrary bytes as VTS_01_0.IFO, through every repair step of a title-set run.
#include "FuzzProcess.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dorvex::testkit::PrepareFuzzProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dorvex::testkit;
    RequireConsistent(RunVtsIfoInput(data, size, ScratchFolder()));
    return 0;
}
