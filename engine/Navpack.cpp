#include "engine/Navpack.h"

#include <algorithm>
#include <cstring>

#include "support/BigEndian.h"

namespace dorvex::navpack {

bool IsNavpack(const uint8_t* pack) {
    return ReadBE32(pack, pack::kPciPacket) == pack::kCodePrivate2 &&
           ReadBE32(pack, pack::kDsiPacket) == pack::kCodePrivate2;
}

void ClearField(uint8_t* pack, Field field) {
    for (const FieldSpan& span : kFieldSpans) {
        if (span.field == field) {
            std::memset(pack + span.offset, 0, static_cast<size_t>(span.size));
        }
    }
}

bool FieldIsClear(const uint8_t* pack, Field field) {
    for (const FieldSpan& span : kFieldSpans) {
        if (span.field == field && std::any_of(pack + span.offset, pack + span.offset + span.size,
                                               [](uint8_t byte) { return byte != 0; })) {
            return false;
        }
    }
    return true;
}

uint32_t ChangedFields(const uint8_t* before, const uint8_t* after) {
    uint32_t fields = 0;
    bool inSpan[pack::kPackSize] = {};
    for (const FieldSpan& span : kFieldSpans) {
        if (std::memcmp(before + span.offset, after + span.offset,
                        static_cast<size_t>(span.size)) != 0) {
            fields |= FieldBit(span.field);
        }
        std::memset(inSpan + span.offset, 1, static_cast<size_t>(span.size));
    }
    for (int32_t i = 0; i < pack::kPackSize; ++i) {
        if (!inSpan[i] && before[i] != after[i]) {
            fields |= FieldBit(Field::Other);
            break;
        }
    }
    return fields;
}

}  // namespace dorvex::navpack
