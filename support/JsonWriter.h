// A small writer of indented JSON text, for the machine-readable reports of the command line.
// Strings are escaped as RFC 8259 asks: quotes, backslashes and control characters; UTF-8 passes
// through, and a byte that is not part of valid UTF-8 (file names on Linux are bytes) becomes
// U+FFFD so that the output stays valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvex {

std::string JsonQuote(std::string_view text);

class CJsonWriter {
  public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The name of the next member of the open object.
    void Key(std::string_view name);
    void String(std::string_view value);
    void Int(int64_t value);
    void Bool(bool value);
    void Null();

    // Key and value at once.
    void Member(std::string_view name, std::string_view value) {
        Key(name);
        String(value);
    }
    void Member(std::string_view name, const char* value) { Member(name, std::string_view(value)); }
    void Member(std::string_view name, int64_t value) {
        Key(name);
        Int(value);
    }
    void Member(std::string_view name, int32_t value) { Member(name, int64_t{value}); }
    void Member(std::string_view name, bool value) {
        Key(name);
        Bool(value);
    }

    // The text so far; complete once every object and array is closed. Ends with a line feed.
    std::string Text() const { return m_Text + "\n"; }

  private:
    void BeforeValue();
    void Close(char bracket);

    std::string m_Text;
    std::vector<bool> m_Empty;  // per open object or array: nothing in it yet
    bool m_AfterKey = false;
};

}  // namespace dorvex
