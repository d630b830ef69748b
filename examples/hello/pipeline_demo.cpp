#include "pipeline_demo.h"

#include <ox/ox.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>

#include <atomic>

namespace {

// A camera simulator: a moving diagonal test pattern, 320 x 240 mono, 8 bits. In push feed it
// produces frames on its own at up to 200 per second (a timer on its worker thread); in pull feed
// it answers each request with one frame.
class SyntheticCamera : public ox::IxDataSource
{
    Q_OBJECT
public:
    SyntheticCamera() { setName(QStringLiteral("camera")); }
    ExSourceType sourceType() const override { return eSequence; }
    bool currentOutputDataInfo(ox::IxDataInfo*& output, ox::CxMetadata*) override
    {
        ox::SxImageInfo info;
        info.width = 320;
        info.height = 240;
        info.channels = 1;
        info.dataType = ox::eUInt8;
        output = new ox::CxImageDataInfo(info);
        return true;
    }

protected:
    void onPipeStarted() override
    {
        if (pipe()->dataFeed() != ox::CxPipe::ePush)
            return;
        m_timer = new QTimer(this);
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, &SyntheticCamera::triggerDataLow);
        m_timer->start(5);
    }
    void onPipeStopped() override
    {
        delete m_timer;
        m_timer = nullptr;
    }
    void onRequestData() override { triggerDataLow(); }
    void triggerDataLow() override
    {
        const int frameNo = ++m_frameNo;
        ox::SxImageBuf buf;
        if (ox::AllocBuffer(buf, 320, 240, 1, ox::eUInt8, 0, 8, ox::ePixel, false, ox::eUncompressed) !=
            ox::eOk)
            return;
        for (int y = 0; y < buf.height; ++y)
            for (int x = 0; x < buf.width; ++x)
                buf.data[y * buf.rowBytes + x] = quint8((x + y + 4 * frameNo) & 0xff);
        auto* frame = new ox::CxImageData;
        frame->setImageShallow(buf, frameNo, quint64(ox::GlobalElapsedMsec()), QDateTime::currentDateTime());
        publish(frame);
        ++produced;
    }

public:
    std::atomic<int> produced{0};

private:
    QTimer* m_timer = nullptr; // lives on the worker thread
    int m_frameNo = 0;
};

// Inverts every pixel of the frame in place.
class Inverter : public ox::IxDataProcessor
{
    Q_OBJECT
public:
    Inverter() { setName(QStringLiteral("inverter")); }
    bool queryOutputDataInfo(const ox::IxDataInfo* input, ox::IxDataInfo*& output, const ox::CxMetadata*,
                             ox::CxMetadata*) override
    {
        output = input ? input->clone() : nullptr;
        return output != nullptr;
    }
    bool processData(ox::IxData* input, ox::IxData*& output) override
    {
        auto* image = qobject_cast<ox::CxImageData*>(input);
        if (!image)
            return false;
        ox::SxImageBuf& buf = image->image();
        for (int y = 0; y < buf.height; ++y)
            for (int x = 0; x < buf.width; ++x)
                buf.data[y * buf.rowBytes + x] = quint8(255 - buf.data[y * buf.rowBytes + x]);
        output = input;
        return true;
    }
};

// The host's side: takes every frame the consumer hands over.
class Display : public ox::IxDataEater
{
public:
    bool acceptsData(int) override { return true; }
    bool consumeData(ox::IxData* data) override
    {
        ++frames;
        delete data;
        return true;
    }
    std::atomic<int> frames{0};
};

void runFeed(ox::CxPipe::ExDataFeed feed, int seconds)
{
    QTextStream out(stdout);
    Display display;
    auto* camera = new SyntheticCamera;
    auto* inverter = new Inverter;
    auto* consumer = new ox::CxDataConsumer(&display);
    consumer->setName(QStringLiteral("display"));
    consumer->setMaxFps(60); // the display regulates itself to 60 frames per second

    ox::CxPipe pipe;
    pipe.insertAfter(camera, nullptr);
    pipe.insertAfter(inverter, camera);
    pipe.insertAfter(consumer, inverter);
    pipe.setDataFeed(feed);
    out << (feed == ox::CxPipe::ePush ? "push feed" : "pull feed") << ": camera -> inverter -> display"
        << Qt::endl;
    if (!pipe.start()) {
        out << "  the pipe did not start" << Qt::endl;
        pipe.destroyAllItems();
        return;
    }
    int producedBefore = 0;
    for (int s = 1; s <= seconds; ++s) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const int produced = camera->produced;
        out << QStringLiteral(
                   "  %1 s: camera made %2 frames, inverter %3 fps, display %4 fps, %5 frames shown")
                   .arg(s)
                   .arg(produced - producedBefore)
                   .arg(inverter->calcFps(), 0, 'f', 1)
                   .arg(consumer->calcFps(), 0, 'f', 1)
                   .arg(display.frames.load())
            << Qt::endl;
        producedBefore = produced;
    }
    pipe.stop();
    pipe.destroyAllItems();
}

} // namespace

void RunPipelineDemo(int secondsPerFeed)
{
    runFeed(ox::CxPipe::ePush, secondsPerFeed);
    runFeed(ox::CxPipe::ePull, secondsPerFeed);
}

#include "pipeline_demo.moc"
