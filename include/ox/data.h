#pragma once

#include <ox/export.h>
#include <ox/imagebuf.h>
#include <ox/metadata.h>

#include <QDateTime>
#include <QObject>
#include <QtGlobal>

// Data items: one frame of data with its frame number, timestamp, date-time and metadata, the unit
// that travels through a pipe and that loaders and savers read and write; and data infos, which
// describe an item's format without its payload.
//
// Threads: items carry no lock. One thread at a time touches an item; clone() is how another
// thread gets a private copy.

namespace ox {

// The format of a data item without its payload. The caller owns what clone() returns.
class OX_EXPORT IxDataInfo
{
public:
    IxDataInfo() = default;
    IxDataInfo(const IxDataInfo&) = default;
    IxDataInfo& operator=(const IxDataInfo&) = default;
    virtual ~IxDataInfo();

    virtual IxDataInfo* clone() const = 0;
};

// The format of an image item.
class OX_EXPORT CxImageDataInfo : public IxDataInfo
{
public:
    CxImageDataInfo() = default;
    explicit CxImageDataInfo(const SxImageInfo& info);
    CxImageDataInfo(const CxImageDataInfo&) = default;
    CxImageDataInfo& operator=(const CxImageDataInfo&) = default;
    ~CxImageDataInfo() override;

    // A new CxImageDataInfo with a copy of imageInfo.
    IxDataInfo* clone() const override;

    SxImageInfo imageInfo;
};

// The abstract data item. Everything in a pipe handles items only through these operations; the
// library's own kinds are CxImageData and CxViewImageData, plug-ins may add more.
class OX_EXPORT IxData : public QObject
{
    Q_OBJECT

public:
    explicit IxData(QObject* parent);
    ~IxData() override;

    // A new item of the same concrete class holding copies of everything; the caller owns it.
    virtual IxData* clone() const = 0;
    // A new description of the item's format; the caller owns it.
    virtual IxDataInfo* dataInfo() const = 0;
    virtual int frameNo() const = 0;
    virtual void setFrameNo(int frameNo) = 0;
    // A time value set by whoever fills the item; the item gives it no unit.
    virtual quint64 timestamp() const = 0;
    virtual void setTimestamp(quint64 timestamp) = 0;
    virtual QDateTime dateTime() const = 0;
    virtual void setDateTime(const QDateTime& dateTime) = 0;
    // True when the item holds no payload.
    virtual bool isNull() const = 0;
    // Releases the payload and clears the metadata; the other fields keep their values.
    virtual void setNull() = 0;

    virtual CxMetadata& metadata();
    virtual const CxMetadata& metadata() const;
    virtual void setMetadata(CxMetadata&& metadata);
    virtual void setMetadata(const CxMetadata& metadata);

private:
    CxMetadata m_metadata;
};

// One image with its frame number, timestamp, date-time and metadata.
//
// Ownership: the item owns whatever pixel memory its image descriptor points at, however it got
// there. It releases it with FreeBuffer (through the descriptor's deleter when set, else the
// release hook) on destruction, on setNull() and before a deep set. A shallow set hands memory
// over to the item; a caller that only lends a buffer shallow-sets a zeroed SxImageBuf into the
// item before destroying it.
class OX_EXPORT CxImageData : public IxData
{
    Q_OBJECT

public:
    explicit CxImageData(QObject* parent = nullptr);
    // Same QObject parent as `other`, a deep copy of its image (AllocAndCopyBuffer) and copies of
    // the frame number, timestamp, date-time and metadata.
    CxImageData(const CxImageData& other);
    CxImageData& operator=(const CxImageData&) = delete;
    ~CxImageData() override;

    // A new CxImageData made by copy construction.
    IxData* clone() const override;
    // A new CxImageDataInfo with the format part of the image (also for a null item).
    IxDataInfo* dataInfo() const override;
    int frameNo() const override;
    void setFrameNo(int frameNo) override;
    quint64 timestamp() const override;
    void setTimestamp(quint64 timestamp) override;
    QDateTime dateTime() const override;
    void setDateTime(const QDateTime& dateTime) override;
    // True exactly when the image has no pixel memory.
    bool isNull() const override;
    // Releases the image and clears the metadata; frame number, timestamp and date-time stay.
    void setNull() override;

    virtual SxImageBuf& image();
    virtual const SxImageBuf& image() const;
    // Releases the current image, copies `image` into new memory owned by the item, then stores the
    // three other fields. A failed copy leaves the item null; the other fields are set all the same.
    virtual void setImageDeep(const SxImageBuf& image, int frameNo, quint64 timestamp, QDateTime dateTime);
    // Takes the descriptor as it is (memory, format, deleter) without releasing the current image,
    // then stores the three other fields. The item owns that memory from now on.
    virtual void setImageShallow(const SxImageBuf& image, int frameNo, quint64 timestamp, QDateTime dateTime);

private:
    int m_frameNo = 0;
    quint64 m_timestamp = 0;
    QDateTime m_dateTime;
    SxImageBuf m_image; // owned pixel memory, released with FreeBuffer
};

// An image prepared for display (the inherited image) together with the unconverted image it was
// made from. The unconverted image follows the same ownership rules and plays no part in isNull()
// or setNull().
class OX_EXPORT CxViewImageData : public CxImageData
{
    Q_OBJECT

public:
    explicit CxViewImageData(QObject* parent = nullptr);
    // Copies as CxImageData does, then deep-copies the unconverted image.
    CxViewImageData(const CxViewImageData& other);
    CxViewImageData& operator=(const CxViewImageData&) = delete;
    ~CxViewImageData() override;

    // A new CxViewImageData made by copy construction.
    IxData* clone() const override;

    virtual SxImageBuf& origImage();
    virtual const SxImageBuf& origImage() const;
    // As setImageDeep() and setImageShallow(), for the unconverted image only.
    virtual void setOrigImageDeep(const SxImageBuf& image);
    virtual void setOrigImageShallow(const SxImageBuf& image);

private:
    SxImageBuf m_origImage; // owned pixel memory, released with FreeBuffer
};

} // namespace ox
