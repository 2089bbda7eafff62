#include "support/IniSettings.h"

// Narrow UTF-8 strings only: no wide-character conversion library is needed.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // the template definitions, in this one translation unit
#include <SimpleIni.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/Paths.h"

namespace dorvex {

namespace {

constexpr const char* kProgramName = "dorvex";

bool IsFolder(const char* path) {
    struct stat st;
    return path != nullptr && path[0] != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string SettingsFolder() {
    if (IsFolder(std::getenv("APPDATA"))) {
        return std::getenv("APPDATA");
    }
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] != '\0') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return JoinPath(home, ".config");
    }
    return ".";
}

}  // namespace

CIniSettings::CIniSettings(const std::string& name)
    : m_Section(name.empty() ? kProgramName : name) {
    m_Path = JoinPath(SettingsFolder(), m_Section + ".ini");
}

std::string CIniSettings::ReadText(const std::string& key, const std::string& defaultValue) const {
    CSimpleIniA ini;
    if (ini.LoadFile(m_Path.c_str()) < 0) {
        return defaultValue;
    }
    return ini.GetValue(m_Section.c_str(), key.c_str(), defaultValue.c_str());
}

int32_t CIniSettings::BindInt(int32_t* target, const std::string& key, int32_t defaultValue) {
    std::string text = ReadText(key, std::to_string(defaultValue));
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    *target = end == text.c_str() ? defaultValue : static_cast<int32_t>(value);
    m_Bindings.push_back({target, key, KindInt});
    return static_cast<int32_t>(m_Bindings.size());
}

int32_t CIniSettings::BindWindow(IWindowPlacement* window, const std::string& key, bool moveOnly) {
    int32_t x = 0, y = 0, width = 0, height = 0;
    std::sscanf(ReadText(key, "0 0 0 0").c_str(), "%d %d %d %d", &x, &y, &width, &height);
    x = std::max(x, 0);
    y = std::max(y, 0);
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width > 0 && height > 0) {
        window->Place(x, y, width, height, moveOnly);
    }
    m_Bindings.push_back({window, key, KindWindow});
    return static_cast<int32_t>(m_Bindings.size());
}

bool CIniSettings::SaveAll() {
    CSimpleIniA ini;
    ini.LoadFile(m_Path.c_str());  // keep keys of other programs' sections as they are
    for (const Binding& b : m_Bindings) {
        char value[64];
        if (b.kind == KindInt) {
            std::snprintf(value, sizeof(value), "%d", *static_cast<int32_t*>(b.target));
        } else if (b.kind == KindWindow) {
            int32_t x = 0, y = 0, width = 0, height = 0;
            if (!static_cast<IWindowPlacement*>(b.target)->GetRect(x, y, width, height)) {
                continue;
            }
            std::snprintf(value, sizeof(value), "%d %d %d %d", x, y, width, height);
        } else {
            continue;
        }
        ini.SetValue(m_Section.c_str(), b.key.c_str(), value);
    }
    ::mkdir(GetFolder(m_Path).c_str(), 0755);  // ~/.config may not exist yet
    return ini.SaveFile(m_Path.c_str()) >= 0;
}

}  // namespace dorvex
