#include "support/JsonWriter.h"

#include <cstdio>

namespace dorvex {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when the byte there starts none.
size_t Utf8Length(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length = 0;
    uint32_t min = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not valid UTF-8.
    if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out + "\"";
}

void CJsonWriter::BeforeValue() {
    if (m_AfterKey) {
        m_AfterKey = false;
        return;
    }
    if (!m_Empty.empty()) {
        if (!m_Empty.back()) {
            m_Text += ',';
        }
        m_Empty.back() = false;
        m_Text += '\n';
        m_Text.append(2 * m_Empty.size(), ' ');
    }
}

void CJsonWriter::BeginObject() {
    BeforeValue();
    m_Text += '{';
    m_Empty.push_back(true);
}

void CJsonWriter::BeginArray() {
    BeforeValue();
    m_Text += '[';
    m_Empty.push_back(true);
}

void CJsonWriter::Close(char bracket) {
    const bool empty = m_Empty.back();
    m_Empty.pop_back();
    if (!empty) {
        m_Text += '\n';
        m_Text.append(2 * m_Empty.size(), ' ');
    }
    m_Text += bracket;
}

void CJsonWriter::EndObject() {
    Close('}');
}

void CJsonWriter::EndArray() {
    Close(']');
}

void CJsonWriter::Key(std::string_view name) {
    BeforeValue();
    m_Text += JsonQuote(name);
    m_Text += ": ";
    m_AfterKey = true;
}

void CJsonWriter::String(std::string_view value) {
    BeforeValue();
    m_Text += JsonQuote(value);
}

void CJsonWriter::Int(int64_t value) {
    BeforeValue();
    m_Text += std::to_string(value);
}

void CJsonWriter::Bool(bool value) {
    BeforeValue();
    m_Text += value ? "true" : "false";
}

void CJsonWriter::Null() {
    BeforeValue();
    m_Text += "null";
}

}  // namespace dorvex
