#include "focus_items.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ox;
using oxtest::SimulatedDrive;

namespace {

double Micrometres(const CxLength& l)
{
    return CxUnits::convertLength(l.value, l.unit, CxUnits::eMicrometres);
}

} // namespace

TEST(FocusControllerTest, ConversionsTruncateTowardZeroInMixedUnits)
{
    // 10 mm of travel in 3 µm steps: 3333.33 steps, truncated.
    SimulatedDrive drive({0, CxUnits::eMicrometres}, {10, CxUnits::eMillimetres}, {3, CxUnits::eMicrometres});
    EXPECT_EQ(drive.stepsCount(), 3333);
    // Positions come in the unit of the upper end; nothing is clamped to the travel.
    EXPECT_EQ(drive.positionForSteps(0), CxLength(0, CxUnits::eMillimetres));
    EXPECT_EQ(drive.positionForSteps(3333), CxLength(10, CxUnits::eMillimetres));
    EXPECT_NEAR(drive.positionForSteps(1).value, 10.0 / 3333, 1e-15);
    EXPECT_LT(drive.positionForSteps(-1).value, 0.0);
    EXPECT_GT(drive.positionForSteps(3334).value, 10.0);
    // Indices of positions given in any unit: 1666.5 -> 1666, 6666, and -0.9999 -> 0 (toward zero).
    EXPECT_EQ(drive.stepsForPosition({5000, CxUnits::eMicrometres}), 1666);
    EXPECT_EQ(drive.stepsForPosition({5, CxUnits::eMillimetres}), 1666);
    EXPECT_EQ(drive.stepsForPosition({2, CxUnits::eCentimetres}), 6666);
    EXPECT_EQ(drive.stepsForPosition({-3, CxUnits::eMicrometres}), 0);
    EXPECT_EQ(drive.stepsForPosition({-3.1, CxUnits::eMicrometres}), -1);

    // Both directions truncate, so a round trip may lose one step, never more: 10 x 11 / 3333 mm
    // is a hair short of the eleventh step.
    for (int n = -5; n <= 3340; ++n) {
        const int back = drive.stepsForPosition(drive.positionForSteps(n));
        ASSERT_TRUE(back == n || back == n - 1) << n << " came back as " << back;
    }
    ASSERT_TRUE(drive.setPositionSteps(11));
    EXPECT_NEAR(Micrometres(drive.position()), 10000.0 * 11 / 3333, 1e-9);
    EXPECT_EQ(drive.positionSteps(), 10);
    ASSERT_TRUE(drive.setPositionSteps(3));
    EXPECT_EQ(drive.positionSteps(), 3);

    // A travel that does not start at zero, each end and the step in a different unit:
    // 500 µm to 2 mm in 0.025 mm steps is 60 steps of 25 µm.
    SimulatedDrive offset({0.05, CxUnits::eCentimetres}, {2, CxUnits::eMillimetres},
                          {0.025, CxUnits::eMillimetres});
    EXPECT_EQ(offset.stepsCount(), 60);
    EXPECT_EQ(offset.positionForSteps(20).unit, CxUnits::eMillimetres);
    EXPECT_NEAR(offset.positionForSteps(20).value, 1.0, 1e-12);
    EXPECT_NEAR(offset.positionForSteps(-4).value, 0.4, 1e-12);
    EXPECT_NEAR(offset.positionForSteps(61).value, 2.025, 1e-12);
    EXPECT_EQ(offset.stepsForPosition({1260, CxUnits::eMicrometres}), 30);  // 30.4
    EXPECT_EQ(offset.stepsForPosition({0.126, CxUnits::eCentimetres}), 30); // 30.4
    EXPECT_EQ(offset.stepsForPosition({110, CxUnits::eMicrometres}), -15);  // -15.6
    EXPECT_EQ(offset.stepsForPosition({2110, CxUnits::eMicrometres}), 64);  // 64.4
}

TEST(FocusControllerTest, DegenerateDrivesGiveNoStepsInsteadOfDividingByZero)
{
    struct Case
    {
        const char* what;
        CxLength min, max, step;
    };
    const Case cases[] = {
        {"zero step", {1, CxUnits::eMillimetres}, {3, CxUnits::eMillimetres}, {0, CxUnits::eNanometres}},
        {"empty travel",
         {1000, CxUnits::eMicrometres},
         {1, CxUnits::eMillimetres},
         {1, CxUnits::eMicrometres}},
        {"travel shorter than a step",
         {1, CxUnits::eMillimetres},
         {1.5, CxUnits::eMillimetres},
         {1, CxUnits::eMillimetres}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimulatedDrive drive(c.min, c.max, c.step);
        EXPECT_EQ(drive.stepsCount(), 0);
        // Every index maps to the lower end (in the unit of the upper end), every position to 0.
        for (int n : {-2, 0, 7}) {
            const CxLength p = drive.positionForSteps(n);
            EXPECT_EQ(p.unit, CxUnits::eMillimetres);
            EXPECT_NEAR(p.value, 1.0, 1e-12);
        }
        EXPECT_EQ(drive.stepsForPosition({2, CxUnits::eMillimetres}), 0);
        EXPECT_EQ(drive.stepsForPosition({-5, CxUnits::eCentimetres}), 0);
        ASSERT_TRUE(drive.setPositionSteps(4));
        EXPECT_NEAR(Micrometres(drive.position()), 1000.0, 1e-9);
        EXPECT_EQ(drive.positionSteps(), 0);
    }

    // Counts beyond the int range saturate instead of overflowing.
    SimulatedDrive huge({0, CxUnits::eNanometres}, {10, CxUnits::eMetres}, {1, CxUnits::eNanometres});
    EXPECT_EQ(huge.stepsCount(), std::numeric_limits<int>::max());
}
