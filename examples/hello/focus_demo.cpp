#include "focus_demo.h"

#include <ox/ox.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

namespace {

constexpr ox::CxUnits::ExLength um = ox::CxUnits::eMicrometres;
constexpr double kSpecimenUm = 123.4; // where the simulated specimen is in focus
constexpr int kSize = 128;            // frames are kSize x kSize, mono, 8 bits

double Micrometres(const ox::CxLength& l)
{
    return ox::CxUnits::convertLength(l.value, l.unit, um);
}

// A focus drive that reaches any position at once: 0 to 250 µm in steps of 0.5 µm.
class SimulatedDrive : public ox::IxFocusController
{
public:
    QString name() const override { return QStringLiteral("simulated drive"); }
    bool isAvailable() const override { return true; }
    ox::CxLength minPosition() const override { return {0, um}; }
    ox::CxLength maxPosition() const override { return {250, um}; }
    ox::CxLength position() const override { return {m_um.load(), um}; }
    bool setPosition(const ox::CxLength& position) override
    {
        const double target = Micrometres(position);
        if (!(target >= 0 && target <= 250))
            return false;
        m_um = target;
        return true;
    }
    ox::CxLength step() const override { return {0.5, um}; }

private:
    std::atomic<double> m_um{0}; // moved by the search, read by the camera on another thread
};

// A camera looking at a checkerboard of 8-pixel squares through the drive's optics: the picture is
// blurred by a Gaussian whose width grows with the distance from the specimen's plane. Frames are
// numbered before the drive's position is read, so every frame numbered after lastFrameNo() (read
// after a move) shows the new position.
class SimulatedCamera : public ox::IxDataSource
{
    Q_OBJECT
public:
    explicit SimulatedCamera(const SimulatedDrive& drive) : m_drive(drive)
    {
        setName(QStringLiteral("camera"));
    }
    ExSourceType sourceType() const override { return eSequence; }
    bool currentOutputDataInfo(ox::IxDataInfo*& output, ox::CxMetadata*) override
    {
        ox::SxImageInfo info;
        info.width = info.height = kSize;
        info.channels = 1;
        info.dataType = ox::eUInt8;
        output = new ox::CxImageDataInfo(info);
        return true;
    }
    int lastFrameNo() const { return m_frameNo; }

protected:
    void onPipeStarted() override
    {
        if (pipe()->dataFeed() != ox::CxPipe::ePush)
            return;
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &SimulatedCamera::triggerDataLow);
        m_timer->start(2);
    }
    void onPipeStopped() override
    {
        delete m_timer;
        m_timer = nullptr;
    }
    void onRequestData() override { triggerDataLow(); } // pull feed: one frame per request
    void triggerDataLow() override
    {
        const int frameNo = ++m_frameNo;
        const double sigma = 0.4 + std::abs(Micrometres(m_drive.position()) - kSpecimenUm) / 4;
        const std::array<double, kSize> wave = blurredSquareWave(sigma);
        ox::SxImageBuf buf;
        if (ox::AllocBuffer(buf, kSize, kSize, 1, ox::eUInt8, 0, 8, ox::ePixel, false, ox::eUncompressed) !=
            ox::eOk)
            return;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                buf.data[y * buf.rowBytes + x] = quint8(std::lround(128 + 100 * wave[x] * wave[y]));
        auto* frame = new ox::CxImageData;
        frame->setImageShallow(buf, frameNo, quint64(ox::GlobalElapsedMsec()), QDateTime::currentDateTime());
        publish(frame);
    }

private:
    // ±1 alternating every 8 pixels, convolved with a Gaussian of width sigma (pixels).
    static std::array<double, kSize> blurredSquareWave(double sigma)
    {
        std::array<double, kSize> out{};
        const int radius = int(std::ceil(3 * sigma));
        for (int x = 0; x < kSize; ++x) {
            double sum = 0, weights = 0;
            for (int k = -radius; k <= radius; ++k) {
                const double w = std::exp(-0.5 * k * k / (sigma * sigma));
                sum += w * ((x + k + 8 * kSize) / 8 % 2 ? 1.0 : -1.0);
                weights += w;
            }
            out[x] = sum / weights;
        }
        return out;
    }

    const SimulatedDrive& m_drive;
    std::atomic<int> m_frameNo{0};
    QTimer* m_timer = nullptr; // lives on the worker thread
};

// Sharpness as the mean squared difference between neighbouring pixels (8-bit mono images).
class GradientEnergy : public ox::IxFocusFunction
{
public:
    QString name() const override { return QStringLiteral("gradient energy"); }
    QString description() const override { return QStringLiteral("mean squared neighbour difference"); }
    bool loadSettings(QSettings*) override { return false; }
    bool saveSettings(QSettings*) override { return false; }
    bool isSupported(const ox::CxImageData* image) const override
    {
        const ox::SxImageBuf& b = image->image();
        return b.data && b.channels == 1 && b.dataType == ox::eUInt8 && b.width > 1 && b.height > 1;
    }
    bool evaluate(const ox::CxImageData* image, double& value) override
    {
        if (!isSupported(image)) {
            m_error = QStringLiteral("only 8-bit mono images of at least 2 x 2 pixels are measured");
            return false;
        }
        const ox::SxImageBuf& b = image->image();
        const QRect r =
            m_region.isEmpty() ? QRect(0, 0, b.width, b.height) : m_region & QRect(0, 0, b.width, b.height);
        double sum = 0;
        for (int y = r.top(); y < r.bottom(); ++y)
            for (int x = r.left(); x < r.right(); ++x) {
                const quint8* p = b.data + qint64(y) * b.rowBytes + x;
                const double dx = p[1] - p[0], dy = p[b.rowBytes] - p[0];
                sum += dx * dx + dy * dy;
            }
        value = r.width() > 1 && r.height() > 1 ? sum / ((r.width() - 1) * (r.height() - 1)) : 0;
        m_error.clear();
        return true;
    }
    bool higherIsSharper() const override { return true; }
    bool setRegion(const QRect& region) override { return m_region = region, true; }
    QRect region() const override { return m_region; }
    bool setChannel(int channel) override { return channel == 0; }
    int channel() const override { return 0; }
    void reset() override {}
    QString errorMessage() const override { return m_error; }

private:
    QRect m_region;
    QString m_error;
};

// Visits the search range every 10 µm, then every micrometre within 10 µm of the sharpest coarse
// position, measuring one frame taken at each position. Runs on the auto-focus item's threads: the
// item serialises everything but acceptsFrame() and isFocusing(), which read atomics only.
class CoarseToFineSearch : public ox::IxFocusAlgorithm
{
public:
    explicit CoarseToFineSearch(const SimulatedCamera& camera) : m_camera(camera) {}
    QString name() const override { return QStringLiteral("coarse to fine"); }
    QString description() const override { return QStringLiteral("10 µm steps, then 1 µm steps"); }
    bool loadSettings(QSettings*) override { return false; }
    bool saveSettings(QSettings*) override { return false; }
    bool setFocusController(ox::IxFocusController* controller) override { return m_drive = controller, true; }
    ox::IxFocusController* focusController() const override { return m_drive; }
    bool setFocusFunction(ox::IxFocusFunction* function) override { return m_function = function, true; }
    ox::IxFocusFunction* focusFunction() const override { return m_function; }
    bool setSearchRange(const ox::CxLength& lower, const ox::CxLength& upper) override
    {
        if (!(Micrometres(lower) < Micrometres(upper)))
            return false;
        m_lowerUm = Micrometres(lower), m_upperUm = Micrometres(upper);
        return true;
    }
    ox::CxLength searchLower() const override { return {m_lowerUm, um}; }
    ox::CxLength searchUpper() const override { return {m_upperUm, um}; }
    // Half for the coarse pass, half for the fine one.
    int progress() const override
    {
        const double coarse = (m_nextUm - m_lowerUm) / (m_upperUm - m_lowerUm);
        const double fine = (m_nextUm - m_fineStartUm) / std::max(m_fineEndUm - m_fineStartUm, 1.0);
        return m_focusing ? int(m_fine ? 50 + 50 * fine : 50 * coarse) : 0;
    }
    QString errorMessage() const override { return m_error; }

    bool acceptsFrame(int frameNo) override { return m_focusing && frameNo > m_staleUpTo; }
    bool isFocusing() override { return m_focusing; }
    bool processImage(ox::CxImageData* image) override
    {
        double sharpness = 0;
        if (!m_focusing || image->frameNo() <= m_staleUpTo)
            return true;
        if (!m_function->evaluate(image, sharpness)) {
            m_error = m_function->errorMessage();
            return stop(), true;
        }
        m_curve.append({ox::CxLength(m_nextUm, um), sharpness});
        const double step = m_fine ? 1 : 10;
        if (m_nextUm + step <= (m_fine ? m_fineEndUm : m_upperUm)) {
            moveTo(m_nextUm + step);
        } else if (!m_fine) {
            const double best = Micrometres(sharpest());
            m_fine = true;
            m_fineStartUm = std::max(best - 10, m_lowerUm);
            m_fineEndUm = std::min(best + 10, m_upperUm);
            moveTo(m_fineStartUm);
        } else {
            stop();
        }
        return true;
    }
    void focusingCurve(QList<QPair<ox::CxLength, double>>& curve) override
    {
        curve = m_curve;
        std::sort(curve.begin(), curve.end(),
                  [](const auto& a, const auto& b) { return Micrometres(a.first) < Micrometres(b.first); });
    }
    void focusPosition(ox::CxLength& position) override { position = sharpest(); }
    bool startFocusing() override
    {
        if (!m_drive || !m_function)
            return false;
        m_curve.clear();
        m_error.clear();
        m_fine = false;
        m_focusing = true;
        moveTo(m_lowerUm);
        return true;
    }
    void cancelFocusing() override { stop(); }

private:
    void moveTo(double positionUm)
    {
        m_nextUm = positionUm;
        if (!m_drive->setPosition({positionUm, um}))
            m_error = QStringLiteral("the drive cannot reach %1 µm").arg(positionUm);
        m_staleUpTo = m_camera.lastFrameNo(); // frames up to here may show the old position
    }
    ox::CxLength sharpest() const
    {
        const auto best = std::max_element(m_curve.cbegin(), m_curve.cend(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
        return best == m_curve.cend() ? ox::CxLength(m_lowerUm, um) : best->first;
    }
    void stop()
    {
        if (m_focusing.exchange(false))
            Q_EMIT focusingFinished();
    }

    const SimulatedCamera& m_camera;
    ox::IxFocusController* m_drive = nullptr;
    ox::IxFocusFunction* m_function = nullptr;
    double m_lowerUm = 0, m_upperUm = 250, m_nextUm = 0, m_fineStartUm = 0, m_fineEndUm = 0;
    bool m_fine = false;
    QList<QPair<ox::CxLength, double>> m_curve;
    QString m_error;
    std::atomic<bool> m_focusing{false};
    std::atomic<int> m_staleUpTo{0};
};

} // namespace

bool RunFocusDemo(int timeoutMs)
{
    QTextStream out(stdout);
    SimulatedDrive drive;
    GradientEnergy measure;
    auto* camera = new SimulatedCamera(drive);
    auto* search = new CoarseToFineSearch(*camera);
    search->setFocusController(&drive);
    search->setFocusFunction(&measure);
    auto* focus = new ox::CxAutoFocus;
    focus->setName(QStringLiteral("auto-focus"));
    focus->setAlgorithm(search); // the item owns it from here on

    ox::CxPipe pipe;
    pipe.insertAfter(camera, nullptr);
    pipe.insertAfter(focus, camera);
    pipe.setDataFeed(ox::CxPipe::ePush);
    const QString units = QStringLiteral(" µm");
    out << "auto-focus: camera -> auto-focus, specimen at " << kSpecimenUm << units << Qt::endl;
    std::atomic<bool> finished{false};
    QObject::connect(focus, &ox::CxAutoFocus::focusingFinished, [&] { finished = true; });
    bool found = false;
    if (pipe.start() && focus->startFocusing()) {
        QElapsedTimer timer;
        timer.start();
        while (!finished && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QList<QPair<ox::CxLength, double>> curve;
        ox::CxLength best;
        found = focus->focusingCurve(curve) && focus->focusPosition(best);
        if (found) {
            out << "  " << curve.size() << " frames measured in " << timer.elapsed() << " ms; sharpest at "
                << Micrometres(best) << units << Qt::endl;
            double shown = -1; // the fine pass measures some coarse positions again
            for (const auto& [position, sharpness] : curve)
                if (std::abs(Micrometres(position) - Micrometres(best)) <= 3 &&
                    Micrometres(position) != shown) {
                    shown = Micrometres(position);
                    out << "    " << shown << units << ": sharpness " << sharpness << Qt::endl;
                }
        } else {
            focus->cancelFocusing();
            out << "  the search did not finish " << search->errorMessage() << Qt::endl;
        }
    } else {
        out << "  the search did not start" << Qt::endl;
    }
    pipe.stop();
    pipe.destroyAllItems();
    return found;
}

#include "focus_demo.moc"
