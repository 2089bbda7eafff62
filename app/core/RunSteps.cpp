#include "app/core/RunSteps.h"

#include <cstdlib>

#include "support/Paths.h"

namespace dorvex {

std::string DefaultLogPath() {
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return JoinPath(value, "Dorvex.log");
        }
    }
    return "/tmp/Dorvex.log";
}

}  // namespace dorvex
