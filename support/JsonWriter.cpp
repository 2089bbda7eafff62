#include "support/JsonWriter.h"

#include <cstdio>

#include "support/Utf8.h"

namespace dorvex {

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8SequenceLength(text, i);
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
