#include "focus_items.h"

#include "support/message_capture.h"

#include <gtest/gtest.h>

using namespace ox;
using oxtest::MessageCapture;
using oxtest::TestStage;

TEST(ZStageTest, MoveStepMustNotBeSmallerThanTheStagesStep)
{
    MessageCapture log;
    TestStage stage(0.5);
    EXPECT_EQ(stage.moveStepValue(), 1.0);

    // A magnitude equal to step() is accepted, the sign is kept.
    EXPECT_TRUE(stage.setMoveStepValue(-0.5));
    EXPECT_EQ(stage.moveStepValue(), -0.5);
    EXPECT_TRUE(log.lines().isEmpty());

    for (double tooSmall : {0.25, -0.49}) {
        EXPECT_FALSE(stage.setMoveStepValue(tooSmall)) << tooSmall;
        EXPECT_EQ(stage.moveStepValue(), -0.5);
    }
    const QString line =
        MessageCapture::error("The absolute value of the step must be greater or equal to step().");
    EXPECT_EQ(log.lines(), QStringList({line, line}));
}
