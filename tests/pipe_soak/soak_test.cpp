// Long run of a branching pipe in both feeds: no frame leaks and memory returns to where it was.
// Labelled "soak": not part of the default run (ctest -L soak).

#include "support/pipe_items.h"

#include "data/data_internal.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

using namespace ox;
using oxtest::TestConsumer;
using oxtest::TestProcessor;
using oxtest::TestSource;

namespace {

long heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return long(m.uordblks + m.hblkhd);
}

long residentBytes()
{
    malloc_trim(0);
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// source -> p1 -> {fast, medium}; source -> p2 -> slow
struct BranchingPipe
{
    explicit BranchingPipe(CxPipe::ExDataFeed feed)
    {
        for (TestConsumer* c : {fast, medium, slow})
            c->record = false; // the consumers' own records would grow with every frame
        medium->delayUs = 50;
        slow->delayUs = 500;
        EXPECT_TRUE(pipe.insertAfter(source, nullptr));
        EXPECT_TRUE(pipe.branchAfter(p1, source));
        EXPECT_TRUE(pipe.branchAfter(p2, source));
        EXPECT_TRUE(pipe.branchAfter(fast, p1));
        EXPECT_TRUE(pipe.branchAfter(medium, p1));
        EXPECT_TRUE(pipe.branchAfter(slow, p2));
        EXPECT_TRUE(pipe.setDataFeed(feed));
    }
    ~BranchingPipe() { pipe.destroyAllItems(); }

    // Runs until the source has made `frames` more frames, then stops.
    void run(int frames)
    {
        const int target = source->requests + frames;
        ASSERT_TRUE(pipe.start());
        if (pipe.dataFeed() == CxPipe::ePush) {
            for (int i = 0; i < frames; ++i)
                source->push();
        } else {
            ASSERT_TRUE(oxtest::waitFor([&] { return source->requests >= target; }, 600000));
        }
        ASSERT_TRUE(pipe.stop());
        EXPECT_EQ(detail::LiveDataItemCount(), 0) << "frames alive after the stop";
    }

    CxPipe pipe;
    TestSource* source = new TestSource;
    TestProcessor* p1 = new TestProcessor;
    TestProcessor* p2 = new TestProcessor(IxPipeItem::eTakeLatestFrame);
    // The fast consumer takes every frame it is told of; the slower ones take the latest frame.
    TestConsumer* fast = new TestConsumer;
    TestConsumer* medium = new TestConsumer(IxPipeItem::eTakeLatestFrame);
    TestConsumer* slow = new TestConsumer(IxPipeItem::eTakeLatestFrame);
};

} // namespace

TEST(PipeSoak, TwoHundredThousandFramesLeakNothing)
{
    // Skipped frames are logged; count the lines instead of keeping them, so that the log itself
    // takes no memory.
    static std::atomic<int> lines{0};
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { ++lines; });
    for (CxPipe::ExDataFeed feed : {CxPipe::ePush, CxPipe::ePull}) {
        SCOPED_TRACE(feed == CxPipe::ePush ? "push" : "pull");
        BranchingPipe branching(feed);
        branching.run(20000); // warm-up: allocator arenas of the item threads, Qt's caches
        const long before = residentBytes();
        const long heapBefore = heapInUse();
        branching.run(200000);
        const long after = residentBytes();
        const long heapAfter = heapInUse();
        std::printf("heap in use %ld -> %ld\n", heapBefore, heapAfter);
        EXPECT_GT(branching.fast->consumed, 0);
        EXPECT_GT(branching.slow->consumed, 0);
        EXPECT_LE(after - before, 1024 * 1024) << "resident memory grew from " << before << " to " << after;
        std::printf("%s: resident %ld -> %ld bytes; consumed fast %d, medium %d, slow %d; %d log lines\n",
                    feed == CxPipe::ePush ? "push" : "pull", before, after, branching.fast->consumed.load(),
                    branching.medium->consumed.load(), branching.slow->consumed.load(), lines.exchange(0));
    }
    qInstallMessageHandler(previous);
}
