#include "focus_items.h"

#include <gtest/gtest.h>

using namespace ox;
using oxtest::SimulatedDrive;

TEST(FocusControllerTest, ConversionsTruncateTowardZeroInMixedUnits)
{
    // 10 mm of travel in 3 µm steps: 3333.33 steps, truncated.
    SimulatedDrive drive({0, CxUnits::eMicrometres}, {10, CxUnits::eMillimetres}, {3, CxUnits::eMicrometres});
    EXPECT_EQ(drive.stepsCount(), 3333);
    // Positions come in the unit of the upper end.
    EXPECT_EQ(drive.positionForSteps(0), CxLength(0, CxUnits::eMillimetres));
    EXPECT_EQ(drive.positionForSteps(3333), CxLength(10, CxUnits::eMillimetres));
    EXPECT_NEAR(drive.positionForSteps(1).value, 10.0 / 3333, 1e-15);
    // Indices of positions given in any unit: 1666.5 -> 1666, 6666, and -0.9999 -> 0 (toward zero).
    EXPECT_EQ(drive.stepsForPosition({5000, CxUnits::eMicrometres}), 1666);
    EXPECT_EQ(drive.stepsForPosition({2, CxUnits::eCentimetres}), 6666);
    EXPECT_EQ(drive.stepsForPosition({-3, CxUnits::eMicrometres}), 0);
    EXPECT_EQ(drive.stepsForPosition({-3.1, CxUnits::eMicrometres}), -1);

    // Both directions truncate, so a round trip may lose a step: 10 x 11 / 3333 mm is a hair short
    // of the eleventh step.
    ASSERT_TRUE(drive.setPositionSteps(11));
    EXPECT_NEAR(oxtest::Micrometres(drive.position()), 10000.0 * 11 / 3333, 1e-9);
    EXPECT_EQ(drive.positionSteps(), 10);
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
        EXPECT_NEAR(oxtest::Micrometres(drive.position()), 1000.0, 1e-9);
        EXPECT_EQ(drive.positionSteps(), 0);
    }
}
