#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/core/Progress.h"

namespace dorvex {
namespace {

constexpr uint32_t kTotal = 2000000;

// An estimator whose last measuring point was taken at `start` during a run of kTotal sectors.
// A fresh estimator counts as measured at clock 0, so `start` lies more than 2000 ms later.
ThroughputEstimator EstimatorMeasuringFrom(uint32_t start, int32_t read) {
    ThroughputEstimator speed;
    speed.Tick(start, PhaseVobPass, false, read, kTotal);
    EXPECT_EQ(speed.m_dwSpeedTick, start);
    return speed;
}

TEST(ProgressTest, FirstTickUsesTheInitialEstimate) {
    ThroughputEstimator speed;
    EXPECT_EQ(FormatPhaseLine(PhaseVobPass, speed, 1000000, kTotal),
              "49% Processed (20.00 MB/s) -- 1:37 secs to go");
}

TEST(ProgressTest, FarSampleReplacesTheEstimateAndNearOneIsSmoothed) {
    ThroughputEstimator speed = EstimatorMeasuringFrom(10000, 0);
    // 16500 packs in 2200 ms: 15000 packs per 2 s, 14.6484375 MB/s, more than 4 below 20.
    speed.Tick(12200, PhaseVobPass, false, 16500, kTotal);
    EXPECT_EQ(speed.m_fSpeed, 14.6484375f);
    EXPECT_NE(FormatPhaseLine(PhaseVobPass, speed, 16500, kTotal).find("(14.65 MB/s)"),
              std::string::npos);
    // 17050 packs in 2200 ms: 15.13671875 MB/s, within 4: 0.98 x old + 0.02 x sample.
    speed.Tick(14400, PhaseVobPass, false, 33550, kTotal);
    EXPECT_FLOAT_EQ(speed.m_fSpeed, 14.658203125f);
    EXPECT_NE(FormatPhaseLine(PhaseVobPass, speed, 33550, kTotal).find("(14.66 MB/s)"),
              std::string::npos);
}

TEST(ProgressTest, DifferenceOfExactlyFourIsSmoothed) {
    ThroughputEstimator speed = EstimatorMeasuringFrom(10000, 0);
    // 20480 packs in 2500 ms is 16.0 MB/s.
    speed.Tick(12500, PhaseVobPass, false, 20480, kTotal);
    EXPECT_FLOAT_EQ(speed.m_fSpeed, 0.98f * 20.0f + 0.02f * 16.0f);
}

TEST(ProgressTest, NoMeasuringPointUntilTheWindowIsOverOrWhilePausedOrOutsideThePass) {
    ThroughputEstimator speed = EstimatorMeasuringFrom(10000, 0);
    speed.Tick(12000, PhaseVobPass, false, 5000, kTotal);  // exactly 2000 ms: not yet
    speed.Tick(15000, PhaseVobPass, true, 5000, kTotal);   // paused
    speed.Tick(15000, PhaseIfoProcessing, false, 5000, kTotal);
    EXPECT_FLOAT_EQ(speed.m_fSpeed, 20.0f);
    EXPECT_EQ(speed.m_dwSpeedTick, 10000u);
    EXPECT_EQ(speed.m_nSpeedRead, 0);
}

TEST(ProgressTest, WindowAcrossAChangeOfTitleSetGivesNoSample) {
    ThroughputEstimator speed = EstimatorMeasuringFrom(10000, 900000);
    speed.Tick(13000, PhaseVobPass, false, 100, 5000);
    EXPECT_FLOAT_EQ(speed.m_fSpeed, 20.0f);
    EXPECT_EQ(speed.m_dwSpeedTick, 13000u);
    EXPECT_EQ(speed.m_nSpeedRead, 100);
    EXPECT_EQ(speed.m_nSpeedTotal, 5000);
}

TEST(ProgressTest, ClockWrapNeitherOpensAWindowEarlyNorShortensIt) {
    const uint32_t start = 0xFFFFFC18u;  // 1000 ms before the clock wraps
    ThroughputEstimator speed = EstimatorMeasuringFrom(start, 0);
    speed.Tick(start + 500u, PhaseVobPass, false, 100, kTotal);
    EXPECT_EQ(speed.m_dwSpeedTick, start);
    // 2500 ms later, across the wrap: 20480 packs is 16.0 MB/s over the true interval.
    speed.Tick(start + 2500u, PhaseVobPass, false, 20480, kTotal);
    EXPECT_EQ(speed.m_dwSpeedTick, 1500u);
    EXPECT_FLOAT_EQ(speed.m_fSpeed, 0.98f * 20.0f + 0.02f * 16.0f);
}

TEST(ProgressTest, StalledWindowShowsAnUnknownTimeToGo) {
    ThroughputEstimator speed = EstimatorMeasuringFrom(10000, 1000);
    speed.Tick(13000, PhaseVobPass, false, 1000, kTotal);
    EXPECT_EQ(speed.m_fSpeed, 0.0f);
    EXPECT_EQ(FormatPhaseLine(PhaseVobPass, speed, 1000, kTotal),
              "0% Processed (0.00 MB/s) -- --:-- secs to go");
    // A tiny estimate would give more seconds than an int holds.
    speed.m_fSpeed = 1e-12f;
    EXPECT_EQ(FormatPhaseLine(PhaseVobPass, speed, 0, kTotal),
              "0% Processed (0.00 MB/s) -- --:-- secs to go");
}

TEST(ProgressTest, EverySectorReadShowsNinetyNinePercent) {
    ThroughputEstimator speed;
    EXPECT_EQ(FormatPhaseLine(PhaseVobPass, speed, 1000, 1000),
              "99% Processed (20.00 MB/s) -- 0:00 secs to go");
    EXPECT_EQ(FormatPhaseLine(PhaseVobPass, speed, 0, 0),
              "0% Processed (20.00 MB/s) -- 0:00 secs to go");
}

TEST(ProgressTest, OtherPhasesShowTheirTexts) {
    ThroughputEstimator speed;
    EXPECT_EQ(FormatPhaseLine(PhaseIdle, speed, 5, 10), "");
    EXPECT_EQ(FormatPhaseLine(PhaseIfoProcessing, speed, 5, 10), "Processing IFOs");
    EXPECT_EQ(FormatPhaseLine(PhaseIfoWriting, speed, 5, 10), "Writing IFOs");
    EXPECT_EQ(FormatPhaseLine(PhaseDone, speed, 5, 10), "Done...");
    EXPECT_EQ(FormatPhaseLine(PhaseAborted, speed, 5, 10), "Aborted");
    EXPECT_EQ(FormatPhaseLine(6, speed, 5, 10), "");
}

TEST(ProgressTest, ProgressBarRunsFromZeroToNinetyNineWithinAFile) {
    EXPECT_EQ(ProgressBarPosition(0, 1000), 0);
    EXPECT_EQ(ProgressBarPosition(500, 1000), 49);
    EXPECT_EQ(ProgressBarPosition(1000, 1000), 99);
    // A file of a billion sectors does not overflow the product.
    EXPECT_EQ(ProgressBarPosition(1000000000, 1000000000), 99);
    EXPECT_EQ(ProgressBarPosition(5, -1), 0);
}

}  // namespace
}  // namespace dorvex
