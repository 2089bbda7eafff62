// A pack stream as a title set's VOB files, with options and an IFO chosen by the first bytes,
// through a whole run in place and a whole run from backup followed by a restore.
#include "FuzzProcess.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dorvex::testkit::PrepareFuzzProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dorvex::testkit;
    RequireConsistent(RunVobPassInput(data, size, ScratchFolder()));
    return 0;
}
