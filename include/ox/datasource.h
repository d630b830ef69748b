#pragma once

#include <ox/pipeitem.h>

#include <QHash>
#include <QList>
#include <QSet>

namespace ox {

class IxMetadataItem;
class IxDataSource;

// Attaches extra metadata items to the frames a source makes (see IxDataSource::captureMetadata).
class OX_EXPORT IxMetadataCapture : public QObject
{
    Q_OBJECT
public:
    explicit IxMetadataCapture(IxDataSource* source); // not owned
    ~IxMetadataCapture() override;
    // The metadata items to attach to `data`; the caller owns them.
    virtual QList<IxMetadataItem*> capture(const IxData* data) = 0;
    IxDataSource* source() const { return m_source; }
    bool enabled() const;
    void setEnabled(bool enabled);

private:
    IxDataSource* m_source;
    std::atomic<bool> m_enabled{true};
};

// The root of a pipe: makes frames on request (pull feed), on its own (push feed) or, when
// data-triggered, only through triggerData(). It has no predecessors.
//
// Threads: onRequestData() and onRequestFrameNo() run on the source's worker thread (requests
// of connected requestors arrive queued); triggerData() runs on the calling thread holding the
// item lock and publishes under the data lock. The trigger type and the capture switch are
// guarded by the item lock; the requestor set by a leaf lock of its own, so that a requestor
// destroyed on any thread, also while the source runs, is dropped from it at once. The source's
// destructor cuts that tie first thing; a requestor must still not be destroyed on another thread
// while the source itself is being destroyed.
class OX_EXPORT IxDataSource : public IxPipeItem
{
    Q_OBJECT
public:
    enum ExDataTriggerType { eFreeRunning = 0, eDataTriggered = 1 };
    Q_ENUM(ExDataTriggerType)
    enum ExSourceType { eStillImage = 0, eSequence = 1 };
    Q_ENUM(ExSourceType)

    explicit IxDataSource(ExFlags flags = ExFlags());
    ~IxDataSource() override;

    virtual ExSourceType sourceType() const = 0;
    ExDataTriggerType dataTriggerType() const;
    virtual ExDataTriggerType dataTriggerType_nolock() const;
    // Refused (false) while started.
    virtual bool setDataTriggerType(ExDataTriggerType type);

    bool isRequestorConnected(QObject* requestor) const;
    void addMetadataCapture(IxMetadataCapture* capture); // not owned
    QList<IxMetadataCapture*> metadataCapture() const;
    bool captureMetadataEnabled() const;
    void setCaptureMetadataEnabled(bool enabled);
    // Adds the items of every enabled capture, in list order, to `metadata` (which owns them).
    void captureMetadata(CxMetadata* metadata, const IxData* data);

    bool acceptAsSuccessor(IxPipeItem* item) override;
    bool acceptAsPrecedessor(IxPipeItem* item) override;
    bool addPrecedessor(IxPipeItem* item) override;
    bool removePrecedessor(IxPipeItem* item) override;
    bool acceptsData(int frameNo) override;
    bool processData(IxData* input, IxData*& output) override;
    bool currentInputDataInfo(IxDataInfo*& input, CxMetadata* metadata) override;
    bool queryOutputDataInfo(const IxDataInfo* input, IxDataInfo*& output, const CxMetadata* inputMetadata,
                             CxMetadata* outputMetadata) override;

public Q_SLOTS:
    // A started, data-triggered source makes and publishes one frame; otherwise nothing happens
    // (a stopped source may have closed what triggerDataLow() needs).
    virtual void triggerData();

protected Q_SLOTS:
    virtual void onRequestData() = 0;
    virtual void onRequestFrameNo(int frmNo);

private Q_SLOTS:
    void onDataAvailable(int frameNo) override;
    // Connected to the requestors' signals; pass the request on to onRequestData() and
    // onRequestFrameNo().
    void relayRequestData();
    void relayRequestFrameNo(int frmNo);

protected:
    // Makes and publishes one frame (see IxPipeItem::publish).
    virtual void triggerDataLow() = 0;
    bool connectDataRequestor(QObject* requestor, const char* requestSignal, const char* frameNoSignal);
    bool disconnectDataRequestor(QObject* requestor, const char* requestSignal, const char* frameNoSignal);

private:
    friend class CxPipe;
    ExDataTriggerType m_triggerType = eFreeRunning; // guarded by the item lock
    mutable std::mutex m_requestorsLock;            // leaf lock
    // The connected requestors, each with the connection that drops it when it is destroyed.
    // Guarded by m_requestorsLock; changed under the item lock too.
    QHash<QObject*, QMetaObject::Connection> m_requestors;
    QList<IxMetadataCapture*> m_captures; // guarded by the item lock; not owned
    bool m_captureMetadata = false;       // guarded by the item lock
};

} // namespace ox
