#include "support/message_capture.h"
#include "support/pipe_items.h"
#include "support/wait.h"

#include <ox/autofocus.h>
#include <ox/zstage.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace ox;

namespace {

const CxUnits::ExLength nm = CxUnits::eNanometres, um = CxUnits::eMicrometres, mm = CxUnits::eMillimetres;
const auto Micrometres = [](const CxLength& l) { return CxUnits::convertLength(l.value, l.unit, um); };
const auto Nanometres = [](const CxLength& l) { return quint64(std::lround(Micrometres(l) * 1000)); };

// A focus drive that gets where it is sent at once.
struct Drive : IxFocusController
{
    const CxLength lower, upper, stride;
    std::atomic<double> at{0}; // µm; moved by the search, read by the camera on another thread
    Drive(CxLength min, CxLength max, CxLength step) : lower(min), upper(max), stride(step) {}
    QString name() const override { return {}; }
    bool isAvailable() const override { return true; }
    CxLength minPosition() const override { return lower; }
    CxLength maxPosition() const override { return upper; }
    CxLength step() const override { return stride; }
    CxLength position() const override { return {at, um}; }
    bool setPosition(const CxLength& position) override
    {
        at = Micrometres(position);
        return true;
    }
};

// Takes one frame at every step of the drive, skipping frames exposed elsewhere, and keeps the
// sharpest: the one whose brightest pixel is brightest, where the point is least spread.
struct StepSearch : IxFocusAlgorithm
{
    Drive& drive;
    QList<QPair<CxLength, double>> curve; // touched only under the item's lock
    std::atomic<bool> focusing{false};    // also read by acceptsFrame() on the camera's thread
    explicit StepSearch(Drive& d) : drive(d) {}
    QString name() const override { return {}; }
    QString description() const override { return {}; }
    bool loadSettings(QSettings*) override { return false; }
    bool saveSettings(QSettings*) override { return false; }
    bool setFocusController(IxFocusController*) override { return false; }
    IxFocusController* focusController() const override { return &drive; }
    bool setFocusFunction(IxFocusFunction*) override { return false; }
    IxFocusFunction* focusFunction() const override { return nullptr; }
    bool setSearchRange(const CxLength&, const CxLength&) override { return false; }
    CxLength searchLower() const override { return drive.lower; }
    CxLength searchUpper() const override { return drive.upper; }
    int progress() const override { return 0; }
    QString errorMessage() const override { return {}; }
    bool acceptsFrame(int) override { return focusing; }
    bool isFocusing() override { return focusing; }
    bool processImage(CxImageData* image) override
    {
        const CxLength z = drive.positionForSteps(curve.size());
        const quint8* row = image->image().data;
        if (!focusing || image->timestamp() != Nanometres(z))
            return true;
        curve.append({z, double(*std::max_element(row, row + image->image().width))});
        if (curve.size() <= drive.stepsCount())
            return drive.setPositionSteps(curve.size());
        cancelFocusing(); // a completed search ends the same way
        return true;
    }
    void focusingCurve(QList<QPair<CxLength, double>>& c) override { c = curve; }
    void focusPosition(CxLength& position) override
    {
        auto blurrier = [](const auto& a, const auto& b) { return a.second < b.second; };
        position = std::max_element(curve.begin(), curve.end(), blurrier)->first; // the first sharpest
    }
    bool startFocusing() override
    {
        curve.clear();
        return focusing = drive.setPositionSteps(0);
    }
    void cancelFocusing() override
    {
        focusing = false;
        Q_EMIT focusingFinished();
    }
};

struct Stage : IxZStage
{
    QString name() const override { return {}; }
    bool isConnected() const override { return true; }
    double position() const override { return 0; }
    double minPosition() const override { return 0; }
    double maxPosition() const override { return 100; }
    double step() const override { return 0.5; }
    bool isMoving() const override { return false; }
    bool stopMove() override { return true; }
    bool moveBy(double) override { return true; }
    bool home() override { return true; }
    QString unitText() const override { return {}; }
    QString errorMessage() const override { return {}; }
    QString description() const override { return {}; }
};

} // namespace

TEST(AutoFocus, LiveSearchFindsTheSharpestPositionAndACancelledOneKeepsNothing)
{
    oxtest::MessageCapture log;              // frames replaced before their notification arrive are logged
    Drive drive({0, um}, {2, mm}, {50, um}); // steps 0 to 40; the point is sharpest at step 27, 1350 µm
    std::atomic<int> finished{0};            // signalled on the item's worker thread
    CxPipe pipe;
    // Each frame's first row shows a bright point at x = 32 spread evenly over 2r + 1 pixels, with
    // r = |z - 1350 µm| / 25 µm truncated and z the drive's position at exposure, which the frame
    // carries in nanometres as its timestamp.
    auto* camera = new oxtest::TestSource(oxtest::TestSource::eSequence, 64);
    camera->draw = [&](CxImageData& frame) {
        const CxLength z = drive.position();
        const int r = int(std::abs(Micrometres(z) - 1350) / 25);
        frame.setTimestamp(Nanometres(z));
        for (int x = 0; x < 64; ++x)
            frame.image().data[x] = quint8(std::abs(x - 32) <= r ? 255 / (2 * r + 1) : 0);
    };
    auto* focus = new CxAutoFocus;
    ASSERT_TRUE(focus->setAlgorithm(new StepSearch(drive)) && pipe.insertAfter(camera, nullptr) &&
                pipe.branchAfter(focus, camera) && pipe.setDataFeed(CxPipe::ePush));
    QObject::connect(focus, &CxAutoFocus::focusingFinished, [&] { ++finished; });
    EXPECT_FALSE(focus->startFocusing()) << "the pipe is not started";
    ASSERT_TRUE(pipe.start() && focus->startFocusing());
    EXPECT_FALSE(focus->setAlgorithm(nullptr)) << "refused while focusing";
    ASSERT_TRUE(oxtest::waitFor([&] {
        camera->push();
        return finished == 1;
    }));
    CxLength position;
    QList<QPair<CxLength, double>> curve;
    ASSERT_TRUE(focus->focusPosition(position) && focus->focusingCurve(curve));
    EXPECT_NEAR(Micrometres(position), 1350, 1e-9);
    EXPECT_EQ(curve.size(), 41);

    // Cancelled a few steps in: the signal still comes, and no result is kept.
    ASSERT_TRUE(focus->startFocusing());
    ASSERT_TRUE(oxtest::waitFor([&] {
        camera->push();
        return Micrometres(drive.position()) >= 150;
    }));
    ASSERT_TRUE(focus->cancelFocusing());
    ASSERT_TRUE(oxtest::waitFor([&] { return finished == 2; }));
    EXPECT_FALSE(focus->focusPosition(position) || focus->focusingCurve(curve));
    ASSERT_TRUE(pipe.stop() && pipe.destroyAllItems());
}

TEST(FocusController, ConversionsTruncateTowardZeroInMixedUnitsAndDegenerateDrivesHaveNoSteps)
{
    Drive drive({1000, um}, {11, mm}, {3, um}); // 3333.3 steps from 1 mm
    EXPECT_EQ(drive.stepsCount(), 3333);
    EXPECT_EQ(drive.positionForSteps(6666), CxLength(21, mm)) << "unclamped, in the unit of the upper end";
    // 1666.5, 9665.7, -0.9999 and -1.03 steps, a count beyond int; and both directions truncate:
    // 1 mm + 10 mm * 11 / 3333 is a hair short of the eleventh step.
    const std::pair<CxLength, int> cases[] = {
        {{6000, um}, 1666}, {{3, CxUnits::eCentimetres}, 9665},           {{997, um}, 0},
        {{996.9, um}, -1},  {{1e9, mm}, std::numeric_limits<int>::max()}, {drive.positionForSteps(11), 10}};
    for (const auto& [position, steps] : cases)
        EXPECT_EQ(drive.stepsForPosition(position), steps) << position.value;
    // A zero-length step and an empty travel: every conversion lands on the lower end, 1 mm.
    Drive degenerate[] = {{{1, mm}, {3, mm}, {0, nm}}, {{1000, um}, {1, mm}, {1, um}}};
    for (const Drive& d : degenerate) {
        EXPECT_EQ(d.stepsCount(), 0);
        EXPECT_NEAR(Micrometres(d.positionForSteps(7)), 1000, 1e-9);
        EXPECT_EQ(d.stepsForPosition({2, mm}), 0);
    }
}

TEST(ZStage, MoveStepIsNeverSmallerThanTheStagesStep)
{
    oxtest::MessageCapture log;
    Stage stage; // step() is 0.5
    EXPECT_TRUE(stage.setMoveStepValue(-0.5)) << "the magnitude of step() is accepted, sign and all";
    for (double refused : {0.25, -0.49, std::nan(""), -HUGE_VAL}) // too small, or not finite
        EXPECT_FALSE(stage.setMoveStepValue(refused)) << refused;
    EXPECT_EQ(stage.moveStepValue(), -0.5);
    const QString line =
        oxtest::MessageCapture::error("The absolute value of the step must be greater or equal to step().");
    EXPECT_EQ(log.lines(), QStringList({line, line, line, line}));
}
