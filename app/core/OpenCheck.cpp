#include "app/core/OpenCheck.h"

#include <cctype>

#include "support/Paths.h"

namespace dorvex {

namespace {

// One "%d" conversion of scanf: optional white space, an optional sign, at least one digit.
// Matched by hand so that an over-long number cannot overflow as it would inside sscanf.
bool SkipScanInteger(const std::string& text, size_t& pos) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) {
        ++pos;
    }
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        ++pos;
    }
    size_t digitsStart = pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        ++pos;
    }
    return pos > digitsStart;
}

}  // namespace

bool IsProcessableTitle(const std::string& fileTitle) {
    if (EqualsIgnoreCase(fileTitle, "video_ts")) {
        return true;
    }
    // "%*[^_]": at least one character that is not an underscore.
    size_t pos = fileTitle.find('_');
    if (pos == 0 || pos == std::string::npos) {
        return false;
    }
    ++pos;
    if (!SkipScanInteger(fileTitle, pos)) {
        return false;
    }
    if (pos >= fileTitle.size() || fileTitle[pos] != '_') {
        return false;
    }
    ++pos;
    return SkipScanInteger(fileTitle, pos);
}

int32_t CheckedOpen(CVtsCleaner& engine, const std::string& path, bool commandLine,
                    const ShowMessageFn& showMessage) {
    if (!IsProcessableTitle(GetBaseName(path))) {
        showMessage(kMsgNotTitleVob);
        return -1;
    }
    // The base Open on purpose: a dialog engine's Open override calls this check itself.
    if (engine.CVtsCleaner::Open(path) != 0) {
        showMessage(commandLine ? kMsgOpenFailedCommandLine : kMsgOpenFailedInteractive);
        return -1;
    }
    return 0;
}

}  // namespace dorvex
