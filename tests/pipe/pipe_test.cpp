#include "support/pipe_items.h"

#include "data/data_internal.h"
#include "support/message_capture.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ox;
using oxtest::MessageCapture;
using oxtest::TestConsumer;
using oxtest::TestProcessor;
using oxtest::TestSource;
using oxtest::waitFor;

namespace {

// Every test ends with its items deleted and no data item alive.
class PipeTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (pipe.isStarted())
            pipe.stop();
        pipe.destroyAllItems();
        for (IxPipeItem* item : loose)
            delete item;
        EXPECT_EQ(detail::LiveDataItemCount(), 0) << "data items leaked or deleted twice";
    }
    // Items that the test keeps outside the pipe; deleted at the end.
    template <typename T>
    T* keep(T* item)
    {
        loose << item;
        return item;
    }
    CxPipe pipe;
    QList<IxPipeItem*> loose;
};

QSet<IxPipeItem*> set(std::initializer_list<IxPipeItem*> items)
{
    return QSet<IxPipeItem*>(items.begin(), items.end());
}

// Opens a resource in setupStart() and closes it in setupStop(); notes a close that comes while
// processData() is still working.
class ClosingProcessor : public TestProcessor
{
public:
    bool setupStart() override { return open = true; }
    bool setupStop() override
    {
        closedWhileBusy = closedWhileBusy || busy;
        open = false;
        return true;
    }
    bool processData(IxData* input, IxData*& output) override
    {
        busy = true;
        QThread::msleep(50);
        busy = false;
        return TestProcessor::processData(input, output);
    }
    std::atomic<bool> open{false}, busy{false}, closedWhileBusy{false};
};

} // namespace

TEST_F(PipeTest, GraphEditsMakeTheDescribedLinks)
{
    MessageCapture log;
    auto* a = new TestSource;
    auto* b = new TestConsumer;
    auto* c = new TestConsumer;
    auto* x = new TestProcessor;
    ASSERT_TRUE(pipe.insertAfter(a, nullptr));
    EXPECT_EQ(pipe.rootItem(), a);
    auto* other = keep(new TestSource);
    EXPECT_FALSE(pipe.insertAfter(other, nullptr));
    EXPECT_TRUE(log.contains(MessageCapture::error("Cannot insert new pipe item. The root item exists.")));
    ASSERT_TRUE(pipe.branchAfter(b, a));
    ASSERT_TRUE(pipe.branchAfter(c, a));

    // x goes between a and both of a's successors, which keep their order.
    ASSERT_TRUE(pipe.insertAfter(x, a));
    EXPECT_EQ(a->successors(), QList<IxPipeItem*>{x});
    EXPECT_EQ(x->precedessors(), QList<IxPipeItem*>{a});
    EXPECT_EQ(x->successors(), (QList<IxPipeItem*>{b, c}));
    EXPECT_EQ(b->precedessors(), QList<IxPipeItem*>{x});
    EXPECT_EQ(pipe.allItems(), set({a, b, c, x}));
    EXPECT_EQ(x->pipe(), &pipe);
    EXPECT_TRUE(pipe.hasItem(QStringLiteral("oxtest::TestProcessor")));
    EXPECT_FALSE(pipe.hasItem(QStringLiteral("TestProcessor")));
    EXPECT_EQ(pipe.consumers(), (QSet<IxDataConsumer*>{b, c}));

    // Removing the middle item hands back its successors and cuts every link to them.
    QSet<IxPipeItem*> removed;
    ASSERT_TRUE(pipe.remove(x, removed));
    EXPECT_EQ(removed, set({b, c}));
    EXPECT_TRUE(a->successors().isEmpty());
    EXPECT_TRUE(b->precedessors().isEmpty());
    EXPECT_EQ(b->pipe(), nullptr);
    EXPECT_EQ(x->pipe(), nullptr);
    EXPECT_EQ(pipe.allItems(), set({a}));
    keep(x);
    keep(b);
    keep(c);

    // insertBefore at the root makes the new item the root.
    auto* y = new TestProcessor;
    auto* d = new TestConsumer;
    ASSERT_TRUE(pipe.branchAfter(d, a));
    ASSERT_TRUE(pipe.insertBefore(y, d));
    EXPECT_EQ(a->successors(), QList<IxPipeItem*>{y});
    EXPECT_EQ(y->successors(), QList<IxPipeItem*>{d});

    // replaceRoot hangs the old root's successors below the new root.
    auto* newRoot = new TestSource;
    IxPipeItem* oldRoot = nullptr;
    ASSERT_TRUE(pipe.replaceRoot(newRoot, oldRoot));
    EXPECT_EQ(oldRoot, a);
    keep(a);
    EXPECT_EQ(pipe.rootItem(), newRoot);
    EXPECT_EQ(newRoot->successors(), QList<IxPipeItem*>{y});
    EXPECT_EQ(y->precedessors(), QList<IxPipeItem*>{newRoot});
    EXPECT_EQ(a->pipe(), nullptr);
    EXPECT_EQ(y->pipe(), &pipe);

    // detachAsBranch takes y with d below it; branchAfter hangs it back.
    ASSERT_TRUE(pipe.detachAsBranch(y));
    EXPECT_EQ(pipe.allItems(), set({newRoot}));
    EXPECT_EQ(y->successors(), QList<IxPipeItem*>{d});
    EXPECT_EQ(d->pipe(), nullptr);
    ASSERT_TRUE(pipe.branchAfter(y, newRoot));
    EXPECT_EQ(d->pipe(), &pipe);
}

TEST_F(PipeTest, LinkRulesAndRefusals)
{
    MessageCapture log;
    auto* source = keep(new TestSource);
    auto* processor = keep(new TestProcessor);
    auto* consumer = keep(new TestConsumer);
    EXPECT_FALSE(processor->addSuccessor(source));
    EXPECT_TRUE(log.contains(MessageCapture::error("The item cannot be accepted as a successor.")));
    EXPECT_FALSE(source->addPrecedessor(processor));
    EXPECT_FALSE(consumer->addSuccessor(processor));
    EXPECT_FALSE(processor->addSuccessor(nullptr));
    EXPECT_TRUE(log.contains(MessageCapture::error("The item is null.")));
    EXPECT_TRUE(processor->addPrecedessor(source));
    EXPECT_TRUE(processor->addSuccessor(consumer));
    EXPECT_FALSE(processor->addSuccessor(consumer));
    EXPECT_TRUE(log.contains(MessageCapture::error("The item is already present.")));
    EXPECT_FALSE(consumer->addPrecedessor(consumer));
    EXPECT_TRUE(log.contains(MessageCapture::error("The item cannot be accepted as a precedessor.")));
    EXPECT_TRUE(processor->removeSuccessor(consumer));
    EXPECT_FALSE(processor->removeSuccessor(consumer));
    EXPECT_TRUE(log.contains(MessageCapture::error("The item is not present.")));
    EXPECT_TRUE(processor->removePrecedessor(source));

    // Names: the class name until one is set, then the name, also on the worker thread.
    EXPECT_EQ(processor->name(), QStringLiteral("oxtest::TestProcessor"));
    processor->setName(QStringLiteral("blur"));
    EXPECT_EQ(processor->name(), QStringLiteral("blur"));
    EXPECT_EQ(processor->thread()->objectName(), QStringLiteral("blur"));
}

TEST_F(PipeTest, StartRefusalsAndSignalOrder)
{
    MessageCapture log;
    EXPECT_FALSE(pipe.stop());
    EXPECT_TRUE(log.contains(MessageCapture::error("The pipe has no items.")));

    auto* processorRoot = new TestProcessor;
    ASSERT_TRUE(pipe.insertAfter(processorRoot, nullptr));
    EXPECT_TRUE(pipe.sources().isEmpty());
    EXPECT_FALSE(pipe.start());
    EXPECT_TRUE(log.contains(MessageCapture::error("The pipe has no data source.")));
    pipe.destroyAllItems();

    // A source with nothing below it is blind; an outside listener makes it startable.
    auto* source = new TestSource;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    EXPECT_FALSE(pipe.start());
    EXPECT_TRUE(log.contains(MessageCapture::error("The pipe has no data consumer.")));
    EXPECT_EQ(pipe.state(), CxPipe::eStopped);
    oxtest::Listener listener;
    ASSERT_TRUE(pipe.connectNonPipeItemObject(source, &listener, SLOT(onData(int))));
    EXPECT_EQ(pipe.nonPipeItemListeners(), QSet<QObject*>{&listener});

    QStringList order;
    QObject::connect(&pipe, &CxPipe::starting, [&] { order << "starting"; });
    QObject::connect(&pipe, &CxPipe::started, [&] { order << "started"; });
    QObject::connect(&pipe, &CxPipe::stopping, [&] { order << "stopping"; });
    QObject::connect(&pipe, &CxPipe::stopped, [&] { order << "stopped"; });
    // The listener's requestData() is tied to the source: the first request follows started().
    QObject::connect(&listener, &oxtest::Listener::requestData, [&] { order << "request"; });
    ASSERT_TRUE(pipe.start());
    EXPECT_TRUE(source->isStarted());
    EXPECT_FALSE(pipe.start());
    EXPECT_TRUE(log.contains(MessageCapture::error("The pipe is already started.")));
    EXPECT_FALSE(pipe.setDataFeed(CxPipe::ePush));
    EXPECT_EQ(pipe.dataFeed(), CxPipe::ePull);
    ASSERT_TRUE(waitFor([&] { return source->requests >= 1 && listener.notifications >= 1; }));
    EXPECT_FALSE(source->setDataTriggerType(IxDataSource::eDataTriggered));
    ASSERT_TRUE(pipe.stop());
    EXPECT_FALSE(pipe.stop());
    EXPECT_TRUE(log.contains(MessageCapture::error("The pipe is already stopped.")));
    EXPECT_EQ(order, (QStringList{"starting", "started", "request", "stopping", "stopped"}));
    EXPECT_FALSE(source->isStarted());
    pipe.disconnectNonPipeItemObject(source, &listener, SLOT(onData(int)));
    EXPECT_TRUE(pipe.nonPipeItemListeners().isEmpty());
}

TEST_F(PipeTest, PullFeedAsksForOneFrameAfterEachConsumedFrame)
{
    MessageCapture log;
    auto* source = new TestSource(IxDataSource::eSequence);
    auto* processor = new TestProcessor;
    auto* consumer = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.insertAfter(processor, source));
    ASSERT_TRUE(pipe.insertAfter(consumer, processor));
    ASSERT_TRUE(pipe.start());
    ASSERT_TRUE(waitFor([&] { return consumer->consumed >= 50; }));
    ASSERT_TRUE(pipe.stop());
    // One request in flight: every consumed frame asked for exactly one more, and nothing was
    // skipped on the way.
    const QList<int> frames = consumer->frames();
    EXPECT_GE(source->requests, consumer->consumed);
    EXPECT_LE(source->requests, consumer->consumed + 1);
    for (int i = 0; i < frames.size(); ++i)
        ASSERT_EQ(frames[i], i + 1);
    EXPECT_GE(processor->processed, consumer->consumed);
    EXPECT_LE(processor->processed, consumer->consumed + 1); // one frame may be in flight at the stop
}

TEST_F(PipeTest, StillImageSourceGetsNoFollowUpRequest)
{
    auto* source = new TestSource(IxDataSource::eStillImage);
    auto* consumer = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.insertAfter(consumer, source));
    ASSERT_TRUE(pipe.start());
    ASSERT_TRUE(waitFor([&] { return consumer->consumed >= 1; }));
    // A further request would arrive within a few event-loop turns; give it the chance.
    waitFor([&] { return source->requests > 1; }, 200);
    ASSERT_TRUE(pipe.stop());
    EXPECT_EQ(source->requests, 1);
    EXPECT_EQ(consumer->consumed, 1);
}

TEST_F(PipeTest, TwoSuccessorsGetACloneAndTheOriginal)
{
    auto* source = new TestSource;
    auto* first = new TestConsumer;
    auto* second = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.branchAfter(first, source));
    ASSERT_TRUE(pipe.branchAfter(second, source));
    ASSERT_TRUE(pipe.setDataFeed(CxPipe::ePush));
    ASSERT_TRUE(pipe.start());
    ASSERT_TRUE(source->push());
    const void* original = source->lastPublished;
    ASSERT_TRUE(waitFor([&] { return first->consumed == 1 && second->consumed == 1; }));
    ASSERT_TRUE(pipe.stop());
    EXPECT_EQ(first->frames(), QList<int>{1});
    EXPECT_EQ(second->frames(), QList<int>{1});
    // Exactly one of them got the published object itself.
    EXPECT_EQ(int(first->pointers()[0] == original) + int(second->pointers()[0] == original), 1);
}

TEST_F(PipeTest, UnwantedFramesAreRefusedAndDeleted)
{
    auto* source = new TestSource;
    auto* consumer = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.insertAfter(consumer, source));
    ASSERT_TRUE(pipe.setDataFeed(CxPipe::ePush));
    ASSERT_TRUE(pipe.start());
    consumer->accepting = false;
    EXPECT_FALSE(source->push());
    EXPECT_EQ(detail::LiveDataItemCount(), 0);
    consumer->accepting = true;
    EXPECT_TRUE(source->push());
    ASSERT_TRUE(waitFor([&] { return consumer->consumed == 1; }));
    ASSERT_TRUE(pipe.stop());
    EXPECT_FALSE(source->push()); // a stopped item publishes nothing
}

TEST_F(PipeTest, SlowConsumerSkipsFramesWithoutBlockingTheSource)
{
    MessageCapture log; // skipped frames leave notifications that find nothing: they are logged
    auto* source = new TestSource;
    auto* processor = new TestProcessor;
    auto* fast = new TestConsumer;
    auto* slow = new TestConsumer(IxPipeItem::eTakeLatestFrame);
    slow->delayUs = 2000;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.insertAfter(processor, source));
    ASSERT_TRUE(pipe.branchAfter(fast, processor));
    ASSERT_TRUE(pipe.branchAfter(slow, processor));
    ASSERT_TRUE(pipe.setDataFeed(CxPipe::ePush));
    ASSERT_TRUE(pipe.start());
    const int pushed = 2000;
    for (int i = 0; i < pushed; ++i) {
        source->push();
        if (i % 100 == 0)
            QThread::msleep(1);
    }
    // The source never waited for the slow branch: it is far behind, and nothing queued up.
    EXPECT_LT(slow->consumed, pushed / 2);
    ASSERT_TRUE(waitFor([&] { return slow->consumed >= 1; }));
    ASSERT_TRUE(pipe.stop());
    const QList<int> got = slow->frames();
    for (int i = 1; i < got.size(); ++i)
        ASSERT_LT(got[i - 1], got[i]); // skipped, never reordered
    EXPECT_LE(detail::LiveDataItemCount(), 0 + 0) << "frames still alive after the stop";
}

TEST_F(PipeTest, RegulationDropsFramesOnlyInPushFeed)
{
    auto* source = new TestSource;
    auto* processor = new TestProcessor(IxPipeItem::eSupportsFpsRegulation);
    processor->setMaxFps(20);
    auto* consumer = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.insertAfter(processor, source));
    ASSERT_TRUE(pipe.insertAfter(consumer, processor));
    ASSERT_TRUE(pipe.setDataFeed(CxPipe::ePush));
    ASSERT_TRUE(pipe.start());
    // 300 frames at about 1 kHz: far above 20 frames per second.
    for (int i = 0; i < 300; ++i) {
        source->push();
        QThread::usleep(1000);
    }
    ASSERT_TRUE(waitFor([&] { return processor->processed >= 1; }));
    ASSERT_TRUE(pipe.stop());
    EXPECT_LT(processor->processed, 60);
    EXPECT_LE(processor->calcFps(), 40.0);

    // The same pipe pulled: every requested frame is processed.
    ASSERT_TRUE(pipe.setDataFeed(CxPipe::ePull));
    const int consumedBefore = consumer->consumed, processedBefore = processor->processed;
    ASSERT_TRUE(pipe.start());
    ASSERT_TRUE(waitFor([&] { return consumer->consumed >= consumedBefore + 30; }));
    ASSERT_TRUE(pipe.stop());
    // At most the frame in flight at the stop is processed but not consumed.
    const int processed = processor->processed - processedBefore,
              consumed = consumer->consumed - consumedBefore;
    EXPECT_GE(processed, consumed);
    EXPECT_LE(processed, consumed + 1);
    EXPECT_GE(source->requests, consumed);
}

TEST_F(PipeTest, DataTriggeredSourcePublishesOnlyOnTrigger)
{
    auto* source = new TestSource;
    auto* consumer = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.insertAfter(consumer, source));
    ASSERT_TRUE(pipe.setDataFeed(CxPipe::ePush));
    ASSERT_TRUE(pipe.start());
    source->triggerData(); // free-running: ignored
    EXPECT_EQ(source->published, 0);
    ASSERT_TRUE(pipe.stop());
    ASSERT_TRUE(source->setDataTriggerType(IxDataSource::eDataTriggered));
    ASSERT_TRUE(pipe.start());
    source->triggerData();
    ASSERT_TRUE(waitFor([&] { return consumer->consumed == 1; }));
    source->triggerData();
    ASSERT_TRUE(waitFor([&] { return consumer->consumed == 2; }));
    ASSERT_TRUE(pipe.stop());
    EXPECT_EQ(source->published, 2);
    EXPECT_EQ(consumer->frames(), (QList<int>{1, 2}));
}

TEST_F(PipeTest, EaterRefusingFramesLeaksNothing)
{
    oxtest::TestEater eater;
    eater.refuse = true;
    auto* source = new TestSource;
    auto* consumer = new CxDataConsumer(&eater);
    EXPECT_EQ(eater.consumer(), consumer);
    EXPECT_TRUE(consumer->flags().testFlag(IxPipeItem::eTakeLatestFrame));
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    ASSERT_TRUE(pipe.insertAfter(consumer, source));
    ASSERT_TRUE(pipe.start());
    ASSERT_TRUE(waitFor([&] { return eater.eaten >= 20; }));
    ASSERT_TRUE(pipe.stop());
    ASSERT_TRUE(pipe.destroyAllItems()); // the consumer goes before its eater
    EXPECT_EQ(eater.consumer(), nullptr);

    // The eater goes first: the consumer is left without eater and refuses frames.
    auto* orphan = new oxtest::TestEater;
    std::unique_ptr<CxDataConsumer> alone(new CxDataConsumer(orphan));
    delete orphan;
    EXPECT_EQ(alone->eater(), nullptr);
    EXPECT_FALSE(alone->acceptsData(1));
}

TEST_F(PipeTest, StoppingWithFramesInFlightAndDeletingLeaksNothing)
{
    MessageCapture log;
    for (CxPipe::ExDataFeed feed : {CxPipe::ePull, CxPipe::ePush}) {
        auto* source = new TestSource;
        auto* processor = new TestProcessor;
        processor->delayUs = 300;
        auto* consumer = new TestConsumer;
        ASSERT_TRUE(pipe.insertAfter(source, nullptr));
        ASSERT_TRUE(pipe.insertAfter(processor, source));
        ASSERT_TRUE(pipe.insertAfter(consumer, processor));
        ASSERT_TRUE(pipe.setDataFeed(feed));
        ASSERT_TRUE(pipe.start());
        ASSERT_TRUE(waitFor([&] {
            if (feed == CxPipe::ePush)
                source->push();
            return consumer->consumed >= 3;
        }));
        // Fill the store and the queues once more right before the stop.
        for (int i = 0; i < 50 && feed == CxPipe::ePush; ++i)
            source->push();
        ASSERT_TRUE(pipe.stop());
        ASSERT_TRUE(pipe.destroyAllItems());
        EXPECT_EQ(detail::LiveDataItemCount(), 0);
    }
}

TEST_F(PipeTest, DeletingThePipeOrAnItemLeavesNoDanglingPointer)
{
    MessageCapture log;
    auto* source = new TestSource;
    auto* processor = new TestProcessor;
    auto* consumer = new TestConsumer;
    {
        // A running pipe goes away: its items stop, lose it and keep their links.
        CxPipe running;
        ASSERT_TRUE(running.setDataFeed(CxPipe::ePush) && running.insertAfter(source, nullptr) &&
                    running.branchAfter(processor, source) && running.branchAfter(consumer, processor));
        ASSERT_TRUE(running.start() && source->push());
    }
    for (IxPipeItem* item : QList<IxPipeItem*>{source, processor, consumer})
        EXPECT_TRUE(item->pipe() == nullptr && item->isStopped()) << item->name().toStdString();
    EXPECT_FALSE(source->push());
    EXPECT_EQ(processor->successors(), QList<IxPipeItem*>{consumer});

    // The former root hangs the whole branch into another pipe, which runs.
    ASSERT_TRUE(pipe.branchAfter(source, nullptr) && pipe.setDataFeed(CxPipe::ePush) && pipe.start());
    const int consumed = consumer->consumed;
    ASSERT_TRUE(source->push());
    ASSERT_TRUE(waitFor([&] { return consumer->consumed == consumed + 1; }));
    ASSERT_TRUE(pipe.stop());

    // Deleted items: what can no longer be reached from the root loses the pipe; a deleted root
    // leaves the pipe empty.
    delete processor;
    EXPECT_EQ(pipe.allItems(), set({source}));
    EXPECT_TRUE(consumer->pipe() == nullptr && consumer->precedessors().isEmpty());
    delete source;
    EXPECT_EQ(pipe.rootItem(), nullptr);
    EXPECT_TRUE(pipe.allItems().isEmpty());
    EXPECT_TRUE(CxPipe::deleteBranch(consumer));
}

TEST_F(PipeTest, CutLinksStopTheFramesAndAnchorsMustBelongToThePipe)
{
    MessageCapture log;
    // A consumer cut off by detachAsBranch or by removing the root, and kept alive, must not keep
    // taking frames: with the remaining consumer refusing them, nobody wants a frame.
    for (bool byRemove : {false, true}) {
        auto* source = new TestSource;
        auto* cut = keep(new TestConsumer);
        auto* left = new TestConsumer;
        ASSERT_TRUE(pipe.insertAfter(source, nullptr) && pipe.branchAfter(cut, source));
        QSet<IxPipeItem*> removed;
        ASSERT_TRUE(byRemove ? pipe.remove(source, removed) && pipe.insertAfter(source, nullptr)
                             : pipe.detachAsBranch(cut));
        ASSERT_TRUE(pipe.branchAfter(left, source) && pipe.setDataFeed(CxPipe::ePush) && pipe.start());
        EXPECT_FALSE(pipe.detachAsBranch(left));
        left->accepting = false;
        EXPECT_FALSE(source->push()) << "cut by " << (byRemove ? "remove" : "detachAsBranch");
        left->accepting = true;
        ASSERT_TRUE(source->push());
        ASSERT_TRUE(waitFor([&] { return left->consumed == 1; }));
        ASSERT_TRUE(pipe.stop() && pipe.destroyAllItems());
    }
    EXPECT_TRUE(log.contains(MessageCapture::error("The pipe is not stopped.")));

    // An anchor outside the pipe is refused by every insertion.
    auto* source = new TestSource;
    auto* outsider = keep(new TestConsumer);
    auto* item = keep(new TestProcessor);
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    for (auto edit : {&CxPipe::insertAfter, &CxPipe::insertBefore, &CxPipe::branchAfter})
        EXPECT_FALSE((pipe.*edit)(item, outsider));
    EXPECT_EQ(pipe.rootItem(), source);
    EXPECT_TRUE(item->pipe() == nullptr && outsider->precedessors().isEmpty());

    // Refused edits change nothing: a source follows nothing, a consumer precedes nothing and
    // cannot take over the root's successors, a new root must be of no pipe.
    auto* consumer = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(consumer, source));
    auto* otherSource = keep(new TestSource);
    auto* otherConsumer = keep(new TestConsumer);
    CxPipe other;
    auto* foreignRoot = keep(new TestSource);
    ASSERT_TRUE(other.insertAfter(foreignRoot, nullptr));
    EXPECT_FALSE(pipe.insertAfter(otherSource, source));
    EXPECT_FALSE(pipe.insertBefore(otherConsumer, consumer));
    for (IxPipeItem* newRoot : QList<IxPipeItem*>{otherConsumer, foreignRoot}) {
        IxPipeItem* oldRoot = nullptr;
        EXPECT_FALSE(pipe.replaceRoot(newRoot, oldRoot));
        EXPECT_EQ(oldRoot, nullptr);
    }
    EXPECT_EQ(pipe.allItems(), set({source, consumer}));
    EXPECT_EQ(source->successors(), QList<IxPipeItem*>{consumer});
    EXPECT_EQ(consumer->precedessors(), QList<IxPipeItem*>{source});
    for (IxPipeItem* item : QList<IxPipeItem*>{otherSource, otherConsumer})
        EXPECT_TRUE(item->pipe() == nullptr && item->successors().isEmpty() &&
                    item->precedessors().isEmpty());
}

TEST_F(PipeTest, OutsideListenersMayGoAwayWhileThePipeRuns)
{
    MessageCapture log; // Qt reports the misspelled slot
    auto* source = new TestSource(IxDataSource::eStillImage);
    ASSERT_TRUE(pipe.insertAfter(source, nullptr));
    oxtest::Listener misspelled;
    EXPECT_FALSE(pipe.connectNonPipeItemObject(source, &misspelled, SLOT(noSuchSlot(int))));
    EXPECT_TRUE(pipe.nonPipeItemListeners().isEmpty());

    // Destroyed while the pull-fed pipe runs, then the pipe stops; the next listener is built at
    // the same address and must be connected afresh.
    alignas(oxtest::Listener) unsigned char storage[sizeof(oxtest::Listener)];
    for (int round = 0; round < 2; ++round) {
        auto* listener = new (storage) oxtest::Listener;
        ASSERT_TRUE(pipe.connectNonPipeItemObject(source, listener, SLOT(onData(int))));
        const int requests = source->requests;
        ASSERT_TRUE(pipe.start());
        ASSERT_TRUE(waitFor([&] { return source->requests > requests && listener->notifications > 0; }))
            << "round " << round;
        listener->~Listener();
        ASSERT_TRUE(pipe.stop());
        EXPECT_TRUE(pipe.nonPipeItemListeners().isEmpty());
    }

    // A deleted item cuts its tie to its listeners first: a listener that goes away while the
    // item is torn down (here from the item's destroyed(), its members gone) touches nothing of it.
    auto* listener = new oxtest::Listener;
    ASSERT_TRUE(pipe.connectNonPipeItemObject(source, listener, SLOT(onData(int))));
    QObject::connect(source, &QObject::destroyed, [listener] { delete listener; });
    ASSERT_TRUE(pipe.destroyAllItems());
}

TEST_F(PipeTest, StopWaitsForTheWorkerAndRunsNoQueuedCallOfTheStoppingThread)
{
    auto* source = new TestSource;
    auto* processor = new ClosingProcessor;
    auto* consumer = new TestConsumer;
    ASSERT_TRUE(pipe.insertAfter(source, nullptr) && pipe.insertAfter(processor, source) &&
                pipe.insertAfter(consumer, processor) && pipe.setDataFeed(CxPipe::ePush));

    // Stopped while processData() works: setupStop() waits for it. A call queued for the
    // stopping thread meanwhile (one that would delete the items, say) runs only after stop().
    ASSERT_TRUE(pipe.start() && source->push());
    ASSERT_TRUE(waitFor([&] { return bool(processor->busy); }));
    bool stopping = true, ranInsideStop = false, ran = false;
    QObject context;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            ran = true;
            ranInsideStop = stopping;
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(pipe.stop());
    stopping = false;
    EXPECT_FALSE(processor->closedWhileBusy);
    ASSERT_TRUE(waitFor([&] { return ran; }));
    EXPECT_FALSE(ranInsideStop);
}
