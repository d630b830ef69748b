#include "support/core_helpers.h"
#include "support/message_capture.h"
#include "support/wait.h"

#include <ox/autofocus.h>
#include <ox/data.h>
#include <ox/datasource.h>
#include <ox/pipe.h>
#include <ox/zstage.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

using namespace ox;

namespace {

const CxUnits::ExLength um = CxUnits::eMicrometres, mm = CxUnits::eMillimetres;

const auto Micrometres = [](const CxLength& l) { return CxUnits::convertLength(l.value, l.unit, um); };

// A focus drive that gets where it is sent at once.
class Drive : public IxFocusController
{
    Q_OBJECT
public:
    Drive(CxLength min, CxLength max, CxLength step) : m_min(min), m_max(max), m_step(step) {}
    QString name() const override { return QStringLiteral("drive"); }
    bool isAvailable() const override { return true; }
    CxLength minPosition() const override { return m_min; }
    CxLength maxPosition() const override { return m_max; }
    CxLength step() const override { return m_step; }
    CxLength position() const override { return {m_um, um}; }
    bool setPosition(const CxLength& position) override
    {
        m_um = Micrometres(position);
        return true;
    }

private:
    const CxLength m_min, m_max, m_step;
    std::atomic<double> m_um{0}; // moved by the search, read by the camera on another thread
};

// Each frame is a row of 64 pixels across a dark-to-bright edge, box-blurred over 2r + 1 pixels with
// r = |z - 1350 µm| / 25 µm (truncated), z being the drive's position at exposure, which the frame
// carries in nanometres as its timestamp.
class Camera : public IxDataSource
{
    Q_OBJECT
public:
    explicit Camera(const Drive* drive) : m_drive(drive) {}
    ExSourceType sourceType() const override { return eSequence; }
    bool currentOutputDataInfo(IxDataInfo*& output, CxMetadata*) override
    {
        output = new CxImageDataInfo;
        return true;
    }
    bool push()
    {
        const double z = Micrometres(m_drive->position());
        const int r = int(std::abs(z - 1350) / 25);
        SxImageBuf buf;
        AllocBuffer(buf, 64, 1, 1, eUInt8, 0, 0, ePixel, true, eUncompressed);
        for (int x = 0; x < 64; ++x) // the share of [x - r, x + r] on the bright side, x >= 32
            buf.data[x] = quint8(std::lround(255.0 * std::clamp(x + r - 31, 0, 2 * r + 1) / (2 * r + 1)));
        auto* frame = new CxImageData;
        frame->setImageShallow(buf, ++m_frames, quint64(std::lround(z * 1000)), QDateTime());
        return publish(frame);
    }

protected:
    void onRequestData() override { push(); }
    void triggerDataLow() override { push(); }

private:
    const Drive* m_drive;
    std::atomic<int> m_frames{0};
};

// Measures one frame at every step of the drive (the sum of squared neighbour differences), skipping
// frames exposed elsewhere, and ends at the sharpest.
class StepSearch : public IxFocusAlgorithm
{
    Q_OBJECT
public:
    explicit StepSearch(Drive* drive) : m_drive(drive) {}
    QString name() const override { return QStringLiteral("step search"); }
    QString description() const override { return name(); }
    bool loadSettings(QSettings*) override { return true; }
    bool saveSettings(QSettings*) override { return true; }
    bool setFocusController(IxFocusController*) override { return false; }
    IxFocusController* focusController() const override { return m_drive; }
    bool setFocusFunction(IxFocusFunction*) override { return false; }
    IxFocusFunction* focusFunction() const override { return nullptr; }
    bool setSearchRange(const CxLength&, const CxLength&) override { return false; }
    CxLength searchLower() const override { return m_drive->minPosition(); }
    CxLength searchUpper() const override { return m_drive->maxPosition(); }
    int progress() const override { return 0; }
    QString errorMessage() const override { return QString(); }
    bool acceptsFrame(int) override { return m_focusing; }
    bool isFocusing() override { return m_focusing; }
    bool processImage(CxImageData* image) override
    {
        const CxLength z = m_drive->positionForSteps(m_curve.size());
        if (!m_focusing || image->timestamp() != quint64(std::lround(Micrometres(z) * 1000)))
            return true;
        double value = 0;
        for (int x = 1; x < image->image().width; ++x)
            value += std::pow(image->image().data[x] - image->image().data[x - 1], 2);
        if (m_curve.isEmpty() || value > m_curve[m_best].second)
            m_best = m_curve.size();
        m_curve.append({z, value});
        ++measured;
        if (m_curve.size() <= m_drive->stepsCount())
            return m_drive->setPositionSteps(m_curve.size());
        m_drive->setPositionSteps(m_best);
        m_focusing = false;
        Q_EMIT focusingFinished();
        return true;
    }
    void focusingCurve(QList<QPair<CxLength, double>>& curve) override { curve = m_curve; }
    void focusPosition(CxLength& position) override { position = m_curve[m_best].first; }
    bool startFocusing() override
    {
        m_curve.clear();
        measured = 0;
        return m_focusing = m_drive->setPositionSteps(0);
    }
    void cancelFocusing() override
    {
        m_focusing = false;
        Q_EMIT focusingFinished();
    }
    std::atomic<int> measured{0}; // read by the test while the search runs

private:
    Drive* m_drive;
    QList<QPair<CxLength, double>> m_curve; // with m_best, touched only under the item's lock
    int m_best = 0;                         // index of the sharpest point so far
    std::atomic<bool> m_focusing{false};    // also read by acceptsFrame() on the camera's thread
};

class Stage : public IxZStage
{
    Q_OBJECT
public:
    QString name() const override { return QStringLiteral("stage"); }
    bool isConnected() const override { return true; }
    double position() const override { return 0; }
    double minPosition() const override { return 0; }
    double maxPosition() const override { return 100; }
    double step() const override { return 0.5; }
    bool isMoving() const override { return false; }
    bool stopMove() override { return true; }
    bool moveBy(double) override { return true; }
    bool home() override { return true; }
    QString unitText() const override { return QStringLiteral("µm"); }
    QString errorMessage() const override { return QString(); }
    QString description() const override { return name(); }
};

} // namespace

TEST(AutoFocus, LiveSearchFindsTheSharpestPositionAndACancelledOneKeepsNothing)
{
    oxtest::MessageCapture log;              // a frame replaced before its notification arrives is logged
    Drive drive({0, um}, {2, mm}, {50, um}); // steps 0 to 40; the edge is sharpest at step 27, 1350 µm
    std::atomic<int> finished{0};            // signalled on the item's worker thread
    CxPipe pipe;
    auto* camera = new Camera(&drive);
    auto* focus = new CxAutoFocus;
    auto* search = new StepSearch(&drive);
    ASSERT_TRUE(focus->setAlgorithm(search) && pipe.insertAfter(camera, nullptr) &&
                pipe.branchAfter(focus, camera) && pipe.setDataFeed(CxPipe::ePush));
    QObject::connect(focus, &CxAutoFocus::focusingFinished, [&] { ++finished; });
    EXPECT_FALSE(focus->startFocusing()) << "the pipe is not started";
    ASSERT_TRUE(pipe.start());
    ASSERT_TRUE(focus->startFocusing());
    EXPECT_FALSE(focus->setAlgorithm(nullptr)) << "refused while focusing";
    EXPECT_EQ(focus->algorithm(), search);

    ASSERT_TRUE(oxtest::waitFor(
        [&] {
            camera->push();
            return finished == 1;
        },
        30000));
    CxLength position;
    QList<QPair<CxLength, double>> curve;
    ASSERT_TRUE(focus->focusPosition(position) && focus->focusingCurve(curve));
    EXPECT_NEAR(Micrometres(position), 1350, 1e-9);
    EXPECT_NEAR(Micrometres(drive.position()), 1350, 1e-9);
    ASSERT_EQ(curve.size(), 41);
    EXPECT_NEAR(Micrometres(curve[40].first), 2000, 1e-9);

    // Cancelled after a few steps: the signal still comes, and no result is kept.
    ASSERT_TRUE(focus->startFocusing());
    ASSERT_TRUE(oxtest::waitFor([&] {
        camera->push();
        return search->measured >= 3;
    }));
    ASSERT_TRUE(focus->cancelFocusing());
    EXPECT_FALSE(focus->cancelFocusing());
    ASSERT_TRUE(oxtest::waitFor([&] { return finished == 2; }));
    EXPECT_FALSE(focus->focusPosition(position) || focus->focusingCurve(curve));

    ASSERT_TRUE(pipe.stop());
    ASSERT_TRUE(pipe.destroyAllItems());
}

TEST(FocusController, ConversionsTruncateTowardZeroInMixedUnitsAndDegenerateDrivesHaveNoSteps)
{
    const CxUnits::ExLength cm = CxUnits::eCentimetres, nm = CxUnits::eNanometres;
    const struct
    {
        CxLength min, max, step, position;
        int count, steps; // stepsCount(), stepsForPosition(position)
        double seventh;   // positionForSteps(7) in µm
    } cases[] = {
        {{0, um}, {10, mm}, {3, um}, {5000, um}, 3333, 1666, 70000.0 / 3333}, // 3333.3 and 1666.5 steps
        {{0, um}, {10, mm}, {3, um}, {2, cm}, 3333, 6666, 70000.0 / 3333},
        {{0, um}, {10, mm}, {3, um}, {-3, um}, 3333, 0, 70000.0 / 3333}, // -0.9999 steps
        {{0, um}, {10, mm}, {3, um}, {-3.1, um}, 3333, -1, 70000.0 / 3333},
        {{1, mm}, {3, mm}, {0, nm}, {2, mm}, 0, 0, 1000},     // a zero-length step
        {{1000, um}, {1, mm}, {1, um}, {-5, cm}, 0, 0, 1000}, // an empty travel
    };
    for (const auto& c : cases) {
        Drive drive(c.min, c.max, c.step);
        EXPECT_EQ(drive.stepsCount(), c.count);
        EXPECT_EQ(drive.stepsForPosition(c.position), c.steps) << c.position.value;
        EXPECT_EQ(drive.positionForSteps(7).unit, mm) << "in the unit of the upper end";
        EXPECT_NEAR(Micrometres(drive.positionForSteps(7)), c.seventh, 1e-9);
    }
    // Both directions truncate: 10 mm * 11 / 3333 is a hair short of the eleventh step.
    Drive drive({0, um}, {10, mm}, {3, um});
    EXPECT_EQ(drive.stepsForPosition(drive.positionForSteps(11)), 10);
}

TEST(ZStage, MoveStepIsNeverSmallerThanTheStagesStep)
{
    oxtest::MessageCapture log;
    Stage stage; // step() is 0.5
    EXPECT_EQ(stage.moveStepValue(), 1.0);
    EXPECT_TRUE(stage.setMoveStepValue(-0.5)) << "the magnitude of step() is accepted, sign and all";
    for (double tooSmall : {0.25, -0.49})
        EXPECT_FALSE(stage.setMoveStepValue(tooSmall)) << tooSmall;
    EXPECT_EQ(stage.moveStepValue(), -0.5);
    const QString line =
        oxtest::MessageCapture::error("The absolute value of the step must be greater or equal to step().");
    EXPECT_EQ(log.lines(), QStringList({line, line}));
}

#include "focus_test.moc"
