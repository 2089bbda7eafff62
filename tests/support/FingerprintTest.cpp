#include "support/Fingerprint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ByteRecord.h"

namespace dorvex {
namespace {

uint64_t Of(const std::string& text) {
    return Fingerprint(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The published XXH64 values: a journal written by one build must be read by the next.
TEST(Fingerprint, MatchesThePublishedXxh64Values) {
    EXPECT_EQ(Of(""), 0xEF46DB3751D8E999u);
    EXPECT_EQ(Of("a"), 0xD24EC4F1A98C6E5Bu);
    EXPECT_EQ(Of("abc"), 0x44BC2CF5AD770999u);
    EXPECT_EQ(Of("Nobody inspects the spammish repetition"), 0xFBCEA83C8A378BF1u);
    // An empty record may come as a null pointer (an empty vector's data()).
    EXPECT_EQ(Fingerprint(nullptr, 0), 0xEF46DB3751D8E999u);
}

TEST(Fingerprint, EveryByteOfAPackCounts) {
    std::vector<uint8_t> pack(2048, 0);
    const uint64_t zeros = Fingerprint(pack.data(), pack.size());
    for (size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{2047}}) {
        pack[at] = 1;
        EXPECT_NE(Fingerprint(pack.data(), pack.size()), zeros) << at;
        pack[at] = 0;
    }
    EXPECT_NE(Fingerprint(pack.data(), pack.size(), 1), zeros);
}

TEST(ByteRecord, ReadsBackWhatWasWrittenAndStopsAtTheEnd) {
    std::vector<uint8_t> bytes;
    ByteRecordWriter out(bytes);
    out.U32(0xDEADBEEF);
    out.I64(-5);
    out.Text("VTS_01_1.VOB");
    ByteRecordReader in(bytes.data(), bytes.size());
    EXPECT_EQ(in.U32(), 0xDEADBEEFu);
    EXPECT_EQ(in.I64(), -5);
    EXPECT_EQ(in.Text(), "VTS_01_1.VOB");
    EXPECT_TRUE(in.Good());
    in.U8();
    EXPECT_FALSE(in.Good());
    // A length that runs past the end is refused, not read.
    ByteRecordReader cut(bytes.data(), bytes.size() - 1);
    cut.U32();
    cut.I64();
    EXPECT_EQ(cut.Text(), "");
    EXPECT_FALSE(cut.Good());
}

}  // namespace
}  // namespace dorvex
