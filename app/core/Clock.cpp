#include "app/core/Clock.h"

#include <chrono>
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

uint32_t MillisecondClock() {
    auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
    return static_cast<uint32_t>(ms);
}

}  // namespace dorvex
