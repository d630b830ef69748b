// The pipeline's own cost: microseconds per frame per hop with small frames, and throughput with
// large frames next to the same work done in a plain loop in the same run.

#include <ox/data.h>
#include <ox/dataconsumer.h>
#include <ox/dataprocessor.h>
#include <ox/datasource.h>
#include <ox/imagebuf.h>
#include <ox/pipe.h>

#include <QCoreApplication>
#include <QThread>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

void noRelease(void*) {}

// Publishes, on the calling thread, frames that view one image (released by nobody).
class ViewSource : public ox::IxDataSource
{
    Q_OBJECT
public:
    explicit ViewSource(const ox::SxImageBuf& image) : m_image(image) { m_image.deleter = &noRelease; }
    ExSourceType sourceType() const override { return eSequence; }
    bool currentOutputDataInfo(ox::IxDataInfo*& output, ox::CxMetadata*) override
    {
        output = new ox::CxImageDataInfo(m_image);
        return true;
    }
    bool push()
    {
        auto* frame = new ox::CxImageData;
        frame->setImageShallow(m_image, ++m_frameNo, 0, QDateTime());
        return publish(frame);
    }

protected:
    void onRequestData() override { push(); }
    void triggerDataLow() override { push(); }

private:
    ox::SxImageBuf m_image;
    int m_frameNo = 0;
};

// Passes frames on, or replaces each by a deep copy of its image.
class CopyProcessor : public ox::IxDataProcessor
{
    Q_OBJECT
public:
    explicit CopyProcessor(bool copy) : m_copy(copy) {}
    bool queryOutputDataInfo(const ox::IxDataInfo* input, ox::IxDataInfo*& output, const ox::CxMetadata*,
                             ox::CxMetadata*) override
    {
        output = input ? input->clone() : nullptr;
        return output != nullptr;
    }
    bool processData(ox::IxData* input, ox::IxData*& output) override
    {
        if (!m_copy) {
            output = input;
            return true;
        }
        auto* in = static_cast<ox::CxImageData*>(input);
        auto* out = new ox::CxImageData;
        out->setImageDeep(in->image(), in->frameNo(), in->timestamp(), in->dateTime());
        delete input;
        output = out;
        return true;
    }

private:
    bool m_copy;
};

class CountingConsumer : public ox::IxDataConsumer
{
    Q_OBJECT
public:
    bool consumeData(ox::IxData* data) override
    {
        delete data;
        ++consumed;
        return true;
    }
    std::atomic<int> consumed{0};
};

struct Chain
{
    Chain(const ox::SxImageBuf& image, bool copy)
        : source(new ViewSource(image)), processor(new CopyProcessor(copy)), consumer(new CountingConsumer)
    {
        pipe.insertAfter(source, nullptr);
        pipe.insertAfter(processor, source);
        pipe.insertAfter(consumer, processor);
        pipe.setDataFeed(ox::CxPipe::ePush);
        pipe.start();
    }
    ~Chain()
    {
        pipe.stop();
        pipe.destroyAllItems();
    }
    // Pushes one frame and waits until the consumer has it: the time of two hops.
    void oneFrame()
    {
        const int before = consumer->consumed;
        source->push();
        while (consumer->consumed == before)
            QThread::yieldCurrentThread();
    }
    ox::CxPipe pipe;
    ViewSource* source;
    CopyProcessor* processor;
    CountingConsumer* consumer;
};

ox::SxImageBuf makeImage(int w, int h, int channels)
{
    ox::SxImageBuf b;
    ox::AllocBuffer(b, w, h, channels, ox::eUInt8, 0, 0, ox::ePixel, true, ox::eUncompressed);
    return b;
}

// Source -> processor -> consumer with 16 x 16 frames, one frame in flight: the cost of handing a
// frame from one item's thread to the next.
void BM_HopSmallFrames(benchmark::State& state)
{
    ox::SxImageBuf image = makeImage(16, 16, 1);
    double total = 0;
    {
        Chain chain(image, false);
        for (auto _ : state) {
            auto t0 = Clock::now();
            chain.oneFrame();
            const double t = std::chrono::duration<double>(Clock::now() - t0).count();
            total += t;
            state.SetIterationTime(t);
        }
    }
    state.counters["us_per_frame_per_hop"] = total * 1e6 / double(state.iterations()) / 2.0;
    ox::FreeBuffer(image);
}

// Large RGB frames through a processor that copies each image, next to the same copies in a plain
// loop (vs_loop = pipe frames per second / loop frames per second; 1.0 means no overhead).
void BM_LargeFramesCopied(benchmark::State& state)
{
    ox::SxImageBuf image = makeImage(4096, 3072, 3);
    ox::SxImageBuf view = image;
    view.deleter = &noRelease;
    double pipeTime = 0, loopTime = 0;
    {
        Chain chain(image, true);
        for (auto _ : state) {
            auto t0 = Clock::now();
            chain.oneFrame();
            auto t1 = Clock::now();
            auto* frame = new ox::CxImageData;
            frame->setImageShallow(view, 1, 0, QDateTime());
            auto* copy = new ox::CxImageData;
            copy->setImageDeep(frame->image(), 1, 0, QDateTime());
            delete frame;
            delete copy;
            auto t2 = Clock::now();
            pipeTime += std::chrono::duration<double>(t1 - t0).count();
            loopTime += std::chrono::duration<double>(t2 - t1).count();
            state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        }
    }
    state.counters["pipe_fps"] = double(state.iterations()) / pipeTime;
    state.counters["loop_fps"] = double(state.iterations()) / loopTime;
    state.counters["vs_loop"] = loopTime / pipeTime;
    ox::FreeBuffer(image);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::RegisterBenchmark("Pipe/hop/16x16", BM_HopSmallFrames)->UseManualTime();
    benchmark::RegisterBenchmark("Pipe/copy/rgb8_4096x3072", BM_LargeFramesCopied)->UseManualTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "pipe_bench.moc"
