// Per-pack cost of the classifier over a realistic mix of packs.
#include <benchmark/benchmark.h>

#include <vector>

#include "common/StreamBuilder.h"
#include "engine/PackInfo.h"

namespace dorvex {
namespace {

std::vector<uint8_t> MixedPacks(int count) {
    std::vector<uint8_t> packs(size_t(count) * testkit::kPack);
    for (int i = 0; i < count; ++i) {
        uint8_t* p = packs.data() + size_t(i) * testkit::kPack;
        if (i % 200 == 0) {
            testkit::MakeNavPack(p, {uint32_t(i), 199, 1, uint8_t(1 + i / 2000), 0});
        } else if (i % 7 == 0) {
            testkit::MakeAudioPack(p, uint8_t(i));
        } else if (i % 97 == 0) {
            testkit::MakeBlankPack(p);
        } else {
            testkit::MakeVideoPack(p, uint8_t(i));
        }
    }
    return packs;
}

void BM_ClassifyPerPack(benchmark::State& state) {
    const int count = 4096;
    std::vector<uint8_t> packs = MixedPacks(count);
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    int i = 0;
    for (auto _ : state) {
        CPackInfo info;
        info.Classify(packs.data() + size_t(i) * testkit::kPack, vobId, cellId);
        benchmark::DoNotOptimize(info.m_nType);
        i = (i + 1) % count;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * testkit::kPack);
}
BENCHMARK(BM_ClassifyPerPack);

}  // namespace
}  // namespace dorvex
