#pragma once

#include <ox/pipeitem.h>

namespace ox {

class IxDataConsumer;

// Ends a branch of a pipe and consumes frames. In pull feed it asks for frames with requestData()
// and, after each frame, asks for the next one paced to its maximum rate; in push feed it takes
// what comes and, with eSupportsFpsRegulation, drops frames above its maximum rate.
//
// Threads: onDataAvailable(), consumeData() and the request timer run on the consumer's worker
// thread; acceptsData() also runs on the thread of the item that publishes upstream. The
// emit-requests switch is guarded by the item lock.
class OX_EXPORT IxDataConsumer : public IxPipeItem
{
    Q_OBJECT
public:
    explicit IxDataConsumer(ExFlags flags = ExFlags());
    ~IxDataConsumer() override;

    // Consumes `data`: true when it took ownership, false when the caller must delete it.
    virtual bool consumeData(IxData* data) = 0;

    bool acceptAsSuccessor(IxPipeItem* item) override;
    bool acceptAsPrecedessor(IxPipeItem* item) override;
    bool addSuccessor(IxPipeItem* item) override;
    bool removeSuccessor(IxPipeItem* item) override;
    bool currentInputDataInfo(IxDataInfo*& input, CxMetadata* metadata) override;
    bool currentOutputDataInfo(IxDataInfo*& output, CxMetadata* metadata) override;
    bool queryOutputDataInfo(const IxDataInfo* input, IxDataInfo*& output, const CxMetadata* inputMetadata,
                             CxMetadata* outputMetadata) override;
    bool processData(IxData* input, IxData*& output) override;

    void emitRequestData();
    // Emits requestFrameNo(n) only in a pull-fed pipe.
    void emitRequestDataNo(int n);
    bool emitRequestDataInPullMode() const;
    void setEmitRequestDataInPullMode(bool on);

Q_SIGNALS:
    void requestData();
    void requestFrameNo(int frmNo);
    void frameConsumed();

protected Q_SLOTS:
    void onDataAvailable(int frameNo) override;

private:
    friend class IxDataSource;
    IxData* takeFrame(IxPipeItem* sender, int frameNo);
    // The source has taken up this consumer's request (called on the source's thread).
    void requestTakenUp();
    bool m_emitRequests = true;             // guarded by the item lock
    std::atomic<int> m_requestsInFlight{0}; // 1 while a request of ours waits at the source
};

class CxDataConsumer;

// A plain object that consumes frames through a CxDataConsumer. Its operations run on the
// consumer's worker thread (acceptsData also on the publishing item's thread). An eater that shows
// frames on another thread (the GUI thread, say) hands them over with queued, non-blocking calls:
// it must never block on the thread that stops or deletes the pipe (see IxPipeItem).
//
// Lifetimes: the eater and the consumer built on it may be deleted in either order (from one
// thread): whichever goes first clears the other's pointer, and a consumer without eater refuses
// every frame. Delete the eater only while the consumer's pipe is stopped (or the consumer is
// out of any pipe): a worker may be inside consumeData() or acceptsData() until then. A copy
// shares the consumer pointer for requestData() but is not the consumer's eater: the consumer
// does not clear it, so drop copies before the consumer. An eater feeds one consumer: building a
// second CxDataConsumer on it leaves the first without eater.
class OX_EXPORT IxDataEater
{
public:
    IxDataEater() = default;
    IxDataEater(const IxDataEater& other) : m_consumer(other.m_consumer) {}
    IxDataEater& operator=(const IxDataEater& other)
    {
        m_consumer = other.m_consumer;
        return *this;
    }
    virtual ~IxDataEater();
    // Takes ownership of `data` when it returns true.
    virtual bool consumeData(IxData* data) = 0;
    virtual bool acceptsData(int frameNo) = 0;
    // Makes the attached consumer emit requestData().
    void requestData();
    IxDataConsumer* consumer() const { return m_consumer; }

private:
    friend class CxDataConsumer;
    IxDataConsumer* m_consumer = nullptr;
    CxDataConsumer* m_feeds = nullptr; // the consumer built on this eater; not copied
};

// A consumer that hands frames to an eater (not owned). Takes only the latest frame and regulates
// its rate. Without an eater (it was deleted) it accepts no frame.
class OX_EXPORT CxDataConsumer : public IxDataConsumer
{
    Q_OBJECT
public:
    explicit CxDataConsumer(IxDataEater* eater);
    ~CxDataConsumer() override;
    bool acceptsData(int frameNo) override;
    bool consumeData(IxData* data) override;
    IxDataEater* eater() const { return m_eater; }

private:
    friend class IxDataEater;
    // Written under the item lock (here and by the eater's destructor); atomic because
    // acceptsData() reads it on the publishing item's thread, which must not take this item lock.
    std::atomic<IxDataEater*> m_eater;
};

} // namespace ox
