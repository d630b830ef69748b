#include "focus_items.h"

#include "support/message_capture.h"

#include <gtest/gtest.h>

#include <QMetaMethod>

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

    for (double tooSmall : {0.25, -0.49, 0.0}) {
        EXPECT_FALSE(stage.setMoveStepValue(tooSmall)) << tooSmall;
        EXPECT_EQ(stage.moveStepValue(), -0.5);
    }
    const QString line =
        MessageCapture::error("The absolute value of the step must be greater or equal to step().");
    EXPECT_EQ(log.lines(), QStringList({line, line, line}));

    EXPECT_TRUE(stage.setMoveStepValue(12.5));
    EXPECT_EQ(stage.moveStepValue(), 12.5);
}

TEST(ZStageTest, InterfaceDefaultsDoNotMoveAndSlotsAreInOrder)
{
    TestStage stage(0.1);
    EXPECT_FALSE(stage.moveStepUp());
    EXPECT_FALSE(stage.moveStepDown());
    EXPECT_FALSE(stage.loadSettings(nullptr));
    EXPECT_FALSE(stage.saveSettings(nullptr));
    EXPECT_FALSE(stage.moveToPos(3.0));

    // Hosts connect to these by signature, and call the slots through the meta-object.
    const QMetaObject& mo = IxZStage::staticMetaObject;
    QStringList methods;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        methods << QString::fromLatin1(mo.method(i).methodSignature());
    EXPECT_EQ(methods, QStringList({"moveStarted()", "moveFinished()", "moveStepUp()", "moveStepDown()"}));
    bool moved = true;
    ASSERT_TRUE(QMetaObject::invokeMethod(&stage, "moveStepUp", Q_RETURN_ARG(bool, moved)));
    EXPECT_FALSE(moved);
}
