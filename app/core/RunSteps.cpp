#include "app/core/RunSteps.h"

#include <ctime>

namespace dorvex {

std::string LocalTimeText(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[128];
    size_t len = std::strftime(text, sizeof(text), format, &local);
    return std::string(text, len);
}

}  // namespace dorvex
