#pragma once

// A simulated focus rig for the focus tests: a drive, a camera whose image of a vertical edge is
// blurred by the drive's distance from the best position, a step-by-step search and a Z stage with
// a settable smallest step.

#include "support/image_helpers.h"

#include <ox/autofocus.h>
#include <ox/data.h>
#include <ox/datasource.h>
#include <ox/focuscontroller.h>
#include <ox/imagebuf.h>
#include <ox/zstage.h>

#include <atomic>
#include <cmath>
#include <mutex>

namespace oxtest {

inline double Micrometres(const ox::CxLength& l)
{
    return ox::CxUnits::convertLength(l.value, l.unit, ox::CxUnits::eMicrometres);
}

// A focus drive that moves at once. Each move increments a counter, which the simulated camera
// stamps on the frames it exposes (as a real rig reports the position at exposure).
class SimulatedDrive : public ox::IxFocusController
{
    Q_OBJECT
public:
    SimulatedDrive(ox::CxLength min, ox::CxLength max, ox::CxLength step)
        : m_min(min), m_max(max), m_step(step), m_position(min)
    {}
    QString name() const override { return QStringLiteral("simulated drive"); }
    bool isAvailable() const override { return true; }
    ox::CxLength minPosition() const override { return m_min; }
    ox::CxLength maxPosition() const override { return m_max; }
    ox::CxLength step() const override { return m_step; }
    ox::CxLength position() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_position;
    }
    bool setPosition(const ox::CxLength& position) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_position = position;
        ++m_moves;
        return true;
    }
    // The position and the number of moves made so far, read together.
    void state(ox::CxLength& position, int& moves) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        position = m_position;
        moves = m_moves;
    }
    int moves() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_moves;
    }

private:
    ox::CxLength m_min, m_max, m_step;
    mutable std::mutex m_mutex;
    ox::CxLength m_position;
    int m_moves = 0;
};

// A camera looking at a dark-to-bright vertical edge in the middle of a 64 x 8 mono image. Out of
// focus, the edge is box-blurred over 2r + 1 pixels, r = |z - best| / blurPerPixel (truncated): the
// further the drive is from `best`, the wider the ramp. The frame's timestamp carries the drive's
// move count at exposure.
class EdgeCamera : public ox::IxDataSource
{
    Q_OBJECT
public:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 8;

    EdgeCamera(const SimulatedDrive* drive, ox::CxLength best, ox::CxLength blurPerPixel)
        : m_drive(drive), m_best(best), m_blur(blurPerPixel)
    {}
    ExSourceType sourceType() const override { return eSequence; }
    bool currentOutputDataInfo(ox::IxDataInfo*& output, ox::CxMetadata*) override
    {
        output = new ox::CxImageDataInfo;
        return true;
    }
    // Exposes and publishes one frame; whether a receiver took it.
    bool push() { return publish(expose()); }

protected:
    void onRequestData() override { push(); }
    void triggerDataLow() override { push(); }

private:
    ox::CxImageData* expose()
    {
        ox::CxLength z;
        int moves = 0;
        m_drive->state(z, moves);
        const int r = int(std::abs(Micrometres(z) - Micrometres(m_best)) / Micrometres(m_blur));
        ox::SxImageBuf buf;
        ox::AllocBuffer(buf, kWidth, kHeight, 1, ox::eUInt8, 0, 0, ox::ePixel, true, ox::eUncompressed);
        // Share of the window [x - r, x + r] that lies on the bright side (x >= kWidth / 2).
        fill<quint8>(buf, [r](int x, int, int) {
            const int bright = std::min(std::max(x + r - kWidth / 2 + 1, 0), 2 * r + 1);
            return std::lround(255.0 * bright / (2 * r + 1));
        });
        auto* frame = new ox::CxImageData;
        frame->setImageShallow(buf, m_next++, quint64(moves), QDateTime());
        return frame;
    }

    const SimulatedDrive* m_drive;
    ox::CxLength m_best, m_blur;
    std::atomic<int> m_next{1};
};

// Visits every step of the drive from 0 to stepsCount(), measures the gradient energy (the sum of
// squared differences of horizontal neighbours) of one frame exposed at each, and ends at the
// sharpest. Frames exposed before the latest move are skipped. Its state is touched
// only under the auto-focus item's lock, except the atomics read by acceptsFrame().
class StepSearch : public ox::IxFocusAlgorithm
{
    Q_OBJECT
public:
    explicit StepSearch(SimulatedDrive* drive) : m_drive(drive) {}

    QString name() const override { return QStringLiteral("step search"); }
    QString description() const override { return name(); }
    bool loadSettings(QSettings*) override { return true; }
    bool saveSettings(QSettings*) override { return true; }
    bool setFocusController(ox::IxFocusController*) override { return false; }
    ox::IxFocusController* focusController() const override { return m_drive; }
    bool setFocusFunction(ox::IxFocusFunction*) override { return false; }
    ox::IxFocusFunction* focusFunction() const override { return nullptr; }
    bool setSearchRange(const ox::CxLength&, const ox::CxLength&) override { return false; }
    ox::CxLength searchLower() const override { return m_drive->minPosition(); }
    ox::CxLength searchUpper() const override { return m_drive->maxPosition(); }
    int progress() const override { return 0; }
    QString errorMessage() const override { return QString(); }

    bool acceptsFrame(int) override { return m_focusing; }
    bool isFocusing() override { return m_focusing; }
    bool processImage(ox::CxImageData* image) override
    {
        if (!m_focusing)
            return false;
        if (image->timestamp() != quint64(m_drive->moves()))
            return true; // exposed before the drive got here
        const ox::SxImageBuf& b = image->image();
        double value = 0;
        for (int y = 0; y < b.height; ++y)
            for (int x = 1; x < b.width; ++x) {
                const double d = double(getPixel<quint8>(b, x, y)) - getPixel<quint8>(b, x - 1, y);
                value += d * d;
            }
        ++measured;
        if (m_best < 0 || value > m_bestValue) {
            m_best = m_step;
            m_bestValue = value;
        }
        if (++m_step <= m_drive->stepsCount()) {
            m_drive->setPositionSteps(m_step);
            return true;
        }
        m_drive->setPositionSteps(m_best);
        m_focusing = false;
        Q_EMIT focusingFinished();
        return true;
    }
    void focusingCurve(QList<QPair<ox::CxLength, double>>& curve) override { curve.clear(); }
    void focusPosition(ox::CxLength& position) override { position = m_drive->positionForSteps(m_best); }

    bool startFocusing() override
    {
        m_step = 0;
        m_best = -1;
        m_drive->setPositionSteps(0);
        m_focusing = true;
        return true;
    }
    void cancelFocusing() override
    {
        m_focusing = false;
        Q_EMIT focusingFinished();
    }

    std::atomic<int> measured{0};

private:
    SimulatedDrive* m_drive;
    std::atomic<bool> m_focusing{false};
    int m_step = 0;
    int m_best = -1;
    double m_bestValue = 0;
};

// A stage that only implements the abstract operations; its smallest step is settable.
class TestStage : public ox::IxZStage
{
    Q_OBJECT
public:
    explicit TestStage(double step) : m_step(step) {}
    QString name() const override { return QStringLiteral("test stage"); }
    bool isConnected() const override { return true; }
    double position() const override { return 0; }
    double minPosition() const override { return 0; }
    double maxPosition() const override { return 100; }
    double step() const override { return m_step; }
    bool isMoving() const override { return false; }
    bool stopMove() override { return true; }
    bool moveBy(double) override { return true; }
    bool home() override { return true; }
    QString unitText() const override { return QStringLiteral("µm"); }
    QString errorMessage() const override { return QString(); }
    QString description() const override { return name(); }

private:
    double m_step;
};

} // namespace oxtest
