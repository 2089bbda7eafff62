// Persistent options in an INI file named after the program: one section, key=value lines. A
// caller binds a variable (or a window) to a key; binding reads the stored value at once, and
// SaveAll writes every bound value back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex {

// What the store needs of a window; keeps support/ free of any user-interface library.
class IWindowPlacement {
  public:
    virtual ~IWindowPlacement() = default;
    // Left, top, width and height in screen coordinates; false when they cannot be read.
    virtual bool GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height) = 0;
    // Places the window; with moveOnly the size stays as it is.
    virtual void Place(int32_t x, int32_t y, int32_t width, int32_t height, bool moveOnly) = 0;
};

class CIniSettings {
  public:
    enum Kind : int32_t { KindFloat = 0, KindInt = 1, KindText = 2, KindWindow = 3 };

    // The section (and file) name is the given name, or "dorvex". The file lies in $APPDATA
    // when it names an existing folder, else $XDG_CONFIG_HOME, else $HOME/.config, else ".".
    explicit CIniSettings(const std::string& name = std::string());

    int32_t BindInt(int32_t* target, const std::string& key, int32_t defaultValue);
    int32_t BindWindow(IWindowPlacement* window, const std::string& key, bool moveOnly);
    // Writes every binding in registration order; false when the file could not be written.
    bool SaveAll();

    const std::string& Path() const { return m_Path; }
    const std::string& Section() const { return m_Section; }

  private:
    struct Binding {
        void* target = nullptr;
        std::string key;
        Kind kind = KindInt;
    };
    std::string ReadText(const std::string& key, const std::string& defaultValue) const;

    std::string m_Path;
    std::string m_Section;
    std::vector<Binding> m_Bindings;
};

}  // namespace dorvex
