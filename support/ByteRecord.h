// Little-endian records of fixed-width fields, as the program's own files (the in-place journal)
// store them. A writer appends to a byte vector it reuses; a reader walks a byte range and turns
// bad once a read would run past its end, so that a torn or foreign record is refused rather
// than read out of bounds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvex {

class ByteRecordWriter {
  public:
    explicit ByteRecordWriter(std::vector<uint8_t>& out) : m_Out(out) {}

    void U8(uint8_t value) { m_Out.push_back(value); }
    void U16(uint16_t value) { Put(value, 2); }
    void U32(uint32_t value) { Put(value, 4); }
    void U64(uint64_t value) { Put(value, 8); }
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
    void I64(int64_t value) { U64(static_cast<uint64_t>(value)); }
    void Bytes(const uint8_t* data, size_t size) { m_Out.insert(m_Out.end(), data, data + size); }
    // Length (32 bits) and bytes.
    void Text(std::string_view text) {
        U32(static_cast<uint32_t>(text.size()));
        Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    size_t Size() const { return m_Out.size(); }
    // Overwrites a 32-bit field written earlier (a count known only later).
    void PatchU32(size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            m_Out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
        }
    }

  private:
    void Put(uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            m_Out.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    }
    std::vector<uint8_t>& m_Out;
};

class ByteRecordReader {
  public:
    ByteRecordReader(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}

    uint8_t U8() { return static_cast<uint8_t>(Get(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Get(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Get(4)); }
    uint64_t U64() { return Get(8); }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    int64_t I64() { return static_cast<int64_t>(U64()); }
    // The next size bytes where they lie, or null (and the reader turns bad) past the end.
    const uint8_t* Bytes(size_t size) {
        if (!Has(size)) {
            return nullptr;
        }
        const uint8_t* at = m_Data + m_At;
        m_At += size;
        return at;
    }
    std::string Text() {
        const uint32_t size = U32();
        const uint8_t* at = Bytes(size);
        return at == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(at), size);
    }
    bool Good() const { return m_Good; }
    bool AtEnd() const { return m_At == m_Size; }
    size_t Left() const { return m_Size - m_At; }

  private:
    bool Has(size_t size) {
        if (!m_Good || size > m_Size - m_At) {
            m_Good = false;
            return false;
        }
        return true;
    }
    uint64_t Get(int bytes) {
        if (!Has(static_cast<size_t>(bytes))) {
            return 0;
        }
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= static_cast<uint64_t>(m_Data[m_At + static_cast<size_t>(i)]) << (8 * i);
        }
        m_At += static_cast<size_t>(bytes);
        return value;
    }

    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_At = 0;
    bool m_Good = true;
};

}  // namespace dorvex
