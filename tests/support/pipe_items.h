#pragma once

// Small pipe items for the tests: a frame source, a pass-through processor, a recording consumer,
// an eater and an outside listener.

#include <ox/data.h>
#include <ox/dataconsumer.h>
#include <ox/dataprocessor.h>
#include <ox/datasource.h>
#include <ox/imagebuf.h>
#include <ox/pipe.h>

#include <QMutex>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace oxtest {

inline ox::CxImageData* makeFrame(int frameNo, int size = 16)
{
    auto* data = new ox::CxImageData;
    ox::SxImageBuf buf;
    ox::AllocBuffer(buf, size, size, 1, ox::eUInt8, 0, 0, ox::ePixel, true, ox::eUncompressed);
    buf.data[0] = quint8(frameNo);
    data->setImageShallow(buf, frameNo, quint64(frameNo), QDateTime());
    return data;
}

// Makes numbered frames: on request (pull feed), when push() is called (push feed, from any
// thread), or through triggerData() when data-triggered. A test may draw each frame with `draw`
// (set before the frames flow; runs on the thread that makes the frame).
class TestSource : public ox::IxDataSource
{
    Q_OBJECT
public:
    explicit TestSource(ExSourceType type = eSequence, int frameSize = 16)
        : m_type(type), m_frameSize(frameSize)
    {}
    ExSourceType sourceType() const override { return m_type; }
    bool acceptsData(int) override { return false; }
    bool currentOutputDataInfo(ox::IxDataInfo*& output, ox::CxMetadata*) override
    {
        output = new ox::CxImageDataInfo;
        return true;
    }
    // Publishes one frame; returns whether anyone took it. The data pointer is remembered.
    bool push()
    {
        ox::CxImageData* frame = makeFrame(m_next++, m_frameSize);
        if (draw)
            draw(*frame);
        lastPublished = frame;
        const bool taken = publish(frame);
        if (taken)
            ++published;
        return taken;
    }
    std::atomic<int> requests{0};
    std::atomic<int> published{0};
    std::atomic<ox::IxData*> lastPublished{nullptr};
    std::function<void(ox::CxImageData&)> draw;

protected:
    void onRequestData() override
    {
        ++requests;
        push();
    }
    void triggerDataLow() override { push(); }

private:
    ExSourceType m_type;
    int m_frameSize;
    std::atomic<int> m_next{1};
};

// Passes each frame on unchanged, optionally after a pause.
class TestProcessor : public ox::IxDataProcessor
{
    Q_OBJECT
public:
    explicit TestProcessor(ExFlags flags = ExFlags()) : ox::IxDataProcessor(flags) {}
    bool queryOutputDataInfo(const ox::IxDataInfo* input, ox::IxDataInfo*& output, const ox::CxMetadata*,
                             ox::CxMetadata*) override
    {
        output = input ? input->clone() : nullptr;
        return output != nullptr;
    }
    bool processData(ox::IxData* input, ox::IxData*& output) override
    {
        if (delayUs > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        ++processed;
        output = input;
        return true;
    }
    std::atomic<int> processed{0};
    int delayUs = 0;
};

// Records what it consumes; deletes each frame (or refuses it).
class TestConsumer : public ox::IxDataConsumer
{
    Q_OBJECT
public:
    explicit TestConsumer(ExFlags flags = ExFlags()) : ox::IxDataConsumer(flags) {}
    bool acceptsData(int) override { return accepting; }
    bool consumeData(ox::IxData* data) override
    {
        if (delayUs > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        if (record) {
            QMutexLocker lock(&m_mutex);
            m_frames << data->frameNo();
            m_pointers << data;
        }
        ++consumed;
        if (refuse)
            return false;
        delete data;
        return true;
    }
    QList<int> frames() const
    {
        QMutexLocker lock(&m_mutex);
        return m_frames;
    }
    QList<const void*> pointers() const
    {
        QMutexLocker lock(&m_mutex);
        return m_pointers;
    }
    std::atomic<int> consumed{0};
    std::atomic<bool> accepting{true};
    std::atomic<bool> refuse{false};
    int delayUs = 0;
    bool record = true; // keep the frame numbers and pointers (set before the pipe starts)

private:
    mutable QMutex m_mutex;
    QList<int> m_frames;
    QList<const void*> m_pointers;
};

class TestEater : public ox::IxDataEater
{
public:
    bool consumeData(ox::IxData* data) override
    {
        ++eaten;
        if (refuse)
            return false;
        delete data;
        return true;
    }
    bool acceptsData(int) override { return true; }
    std::atomic<int> eaten{0};
    std::atomic<bool> refuse{false};
};

// A plain object that listens to an item's frames and can ask for more.
class Listener : public QObject
{
    Q_OBJECT
public:
    std::atomic<int> notifications{0};
Q_SIGNALS:
    void requestData();
public Q_SLOTS:
    void onData(int) { ++notifications; }
};

} // namespace oxtest
