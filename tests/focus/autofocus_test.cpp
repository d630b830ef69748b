#include "focus_items.h"

#include "data/data_internal.h"
#include "support/message_capture.h"
#include "support/pipe_items.h"
#include "support/wait.h"

#include <ox/pipe.h>

#include <gtest/gtest.h>

using namespace ox;
using oxtest::EdgeCamera;
using oxtest::Micrometres;
using oxtest::SimulatedDrive;
using oxtest::StepSearch;
using oxtest::waitFor;

namespace {

// A live rig: a camera at the root of a pipe, the auto-focus item below it and, in pull feed, a
// display consumer that sets the pace. The drive travels 0 to 2 mm in 50 µm steps (41 positions);
// the edge is sharpest at 1350 µm, the 27th step.
class AutoFocusTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (pipe.isStarted())
            pipe.stop();
        pipe.destroyAllItems();
        EXPECT_EQ(detail::LiveDataItemCount(), 0) << "frames leaked or deleted twice";
    }
    // Builds the pipe with a fresh search; returns it (owned by the auto-focus item).
    StepSearch* build(CxPipe::ExDataFeed feed)
    {
        camera = new EdgeCamera(&drive, best, {25, CxUnits::eMicrometres});
        focus = new CxAutoFocus;
        auto* search = new StepSearch(&drive);
        EXPECT_TRUE(focus->setAlgorithm(search));
        EXPECT_TRUE(pipe.insertAfter(camera, nullptr));
        EXPECT_TRUE(pipe.branchAfter(focus, camera));
        if (feed == CxPipe::ePull) {
            EXPECT_TRUE(pipe.branchAfter(new oxtest::TestConsumer, camera));
        }
        EXPECT_TRUE(pipe.setDataFeed(feed));
        // Counted on this thread: the connection is queued from the item's worker thread.
        QObject::connect(focus, &CxAutoFocus::focusingFinished, &context, [this] { ++finished; });
        return search;
    }

    SimulatedDrive drive{{0, CxUnits::eMicrometres}, {2, CxUnits::eMillimetres}, {50, CxUnits::eMicrometres}};
    const CxLength best{1350, CxUnits::eMicrometres};
    CxPipe pipe;
    EdgeCamera* camera = nullptr;
    CxAutoFocus* focus = nullptr;
    QObject context;
    int finished = 0;
};

} // namespace

TEST_F(AutoFocusTest, SearchInALivePipeFindsTheSharpestPosition)
{
    // The display sets the pace; frames that arrive while the search measures are skipped, and
    // the notifications they leave find nothing (the consumer logs that).
    oxtest::MessageCapture log;
    StepSearch* search = build(CxPipe::ePull);
    EXPECT_FALSE(focus->startFocusing()) << "the item is not started yet";
    ASSERT_TRUE(pipe.start());
    ASSERT_TRUE(focus->startFocusing());
    EXPECT_FALSE(focus->startFocusing()) << "already focusing";

    // While searching, the algorithm cannot be replaced, and there is no result yet.
    auto* other = new StepSearch(&drive);
    EXPECT_FALSE(focus->setAlgorithm(other));
    EXPECT_EQ(focus->algorithm(), search);
    delete other;
    CxLength position(-1, CxUnits::eNanometres);
    EXPECT_FALSE(focus->focusPosition(position));

    ASSERT_TRUE(waitFor([&] { return finished == 1; }, 30000));
    EXPECT_EQ(search->measured, 41);
    ASSERT_TRUE(focus->focusPosition(position));
    EXPECT_NEAR(Micrometres(position), 1350.0, 1e-9);
    EXPECT_NEAR(Micrometres(drive.position()), 1350.0, 1e-9) << "the drive ends at the best position";

    // Outside a started pipe a search cannot start, and the last result stays.
    ASSERT_TRUE(pipe.stop());
    EXPECT_FALSE(focus->startFocusing());
    position = CxLength();
    ASSERT_TRUE(focus->focusPosition(position));
    EXPECT_NEAR(Micrometres(position), 1350.0, 1e-9);
    EXPECT_EQ(finished, 1);
}

TEST_F(AutoFocusTest, CancelledSearchKeepsNoResultButStillSignalsTheEnd)
{
    // A notification queued before the cancel may find its frame evicted once the next search
    // accepts frames again; the consumer logs that.
    oxtest::MessageCapture log;
    StepSearch* search = build(CxPipe::ePush);
    ASSERT_TRUE(pipe.start());
    EXPECT_FALSE(focus->cancelFocusing()) << "nothing to cancel";
    ASSERT_TRUE(focus->startFocusing());
    // Frames go to the item only while a search runs; push until a few steps are measured.
    ASSERT_TRUE(waitFor([&] {
        camera->push();
        return search->measured >= 3;
    }));
    ASSERT_TRUE(focus->cancelFocusing());
    EXPECT_FALSE(search->isFocusing());
    EXPECT_FALSE(focus->cancelFocusing()) << "no longer focusing";
    ASSERT_TRUE(waitFor([&] { return finished == 1; }));

    CxLength position(7, CxUnits::eNanometres);
    QList<QPair<CxLength, double>> curve{{CxLength(), 1.0}};
    EXPECT_FALSE(focus->focusPosition(position));
    EXPECT_FALSE(focus->focusingCurve(curve));
    EXPECT_EQ(position, CxLength(7, CxUnits::eNanometres));
    EXPECT_EQ(curve.size(), 1);
    // No frame is taken once the search has ended.
    EXPECT_FALSE(camera->push());

    // Deleting the item right after a cancel: the queued end of search still runs on a whole item.
    ASSERT_TRUE(focus->startFocusing());
    ASSERT_TRUE(focus->cancelFocusing());
    ASSERT_TRUE(pipe.stop());
    ASSERT_TRUE(pipe.destroyAllItems());
}
