#include <ox/data.h>

namespace ox {

namespace {

// Whether `source` points into the memory `target` owns (the same buffer or a part of it).
bool PointsInto(const SxImageBuf& source, const SxImageBuf& target)
{
    if (!source.data || !target.data)
        return false;
    return source.data == target.data ||
           (source.data > target.data && source.data < target.data + target.dataSize);
}

// A deep copy of `source` in `target` (a default descriptor on entry). A null source copies its
// format only: there is no memory to own. A failed copy leaves `target` without memory.
void CopyImage(const SxImageBuf& source, SxImageBuf& target)
{
    if (!source.data) {
        target = source;
        return;
    }
    if (!Succeeded(AllocAndCopyBuffer(source, target)))
        FreeBuffer(target);
}

// Releases `target`'s memory and replaces it by a copy of `source`. A source that points into the
// memory being released is copied first.
void SetImageDeep(SxImageBuf& target, const SxImageBuf& source)
{
    if (PointsInto(source, target)) {
        SxImageBuf copy;
        CopyImage(source, copy);
        FreeBuffer(target);
        target = copy;
        return;
    }
    FreeBuffer(target);
    target = SxImageBuf();
    CopyImage(source, target);
}

} // namespace

// --- CxImageDataInfo ---

CxImageDataInfo::CxImageDataInfo(const SxImageInfo& info) : imageInfo(info) {}

CxImageDataInfo::~CxImageDataInfo() = default;

IxDataInfo* CxImageDataInfo::clone() const
{
    return new CxImageDataInfo(*this);
}

// --- CxImageData ---

CxImageData::CxImageData(QObject* parent) : IxData(parent) {}

CxImageData::CxImageData(const CxImageData& other)
    : IxData(other.parent()), m_frameNo(other.m_frameNo), m_timestamp(other.m_timestamp),
      m_dateTime(other.m_dateTime)
{
    setMetadata(other.metadata());
    CopyImage(other.m_image, m_image);
}

CxImageData::~CxImageData()
{
    FreeBuffer(m_image);
}

IxData* CxImageData::clone() const
{
    return new CxImageData(*this);
}

IxDataInfo* CxImageData::dataInfo() const
{
    return new CxImageDataInfo(static_cast<const SxImageInfo&>(m_image));
}

int CxImageData::frameNo() const
{
    return m_frameNo;
}

void CxImageData::setFrameNo(int frameNo)
{
    m_frameNo = frameNo;
}

quint64 CxImageData::timestamp() const
{
    return m_timestamp;
}

void CxImageData::setTimestamp(quint64 timestamp)
{
    m_timestamp = timestamp;
}

QDateTime CxImageData::dateTime() const
{
    return m_dateTime;
}

void CxImageData::setDateTime(const QDateTime& dateTime)
{
    m_dateTime = dateTime;
}

bool CxImageData::isNull() const
{
    return m_image.data == nullptr;
}

void CxImageData::setNull()
{
    FreeBuffer(m_image);
    metadata().clear();
}

SxImageBuf& CxImageData::image()
{
    return m_image;
}

const SxImageBuf& CxImageData::image() const
{
    return m_image;
}

void CxImageData::setImageDeep(const SxImageBuf& image, int frameNo, quint64 timestamp, QDateTime dateTime)
{
    SetImageDeep(m_image, image);
    m_frameNo = frameNo;
    m_timestamp = timestamp;
    m_dateTime = dateTime;
}

void CxImageData::setImageShallow(const SxImageBuf& image, int frameNo, quint64 timestamp, QDateTime dateTime)
{
    m_image = image;
    m_frameNo = frameNo;
    m_timestamp = timestamp;
    m_dateTime = dateTime;
}

// --- CxViewImageData ---

CxViewImageData::CxViewImageData(QObject* parent) : CxImageData(parent) {}

CxViewImageData::CxViewImageData(const CxViewImageData& other) : CxImageData(other)
{
    CopyImage(other.m_origImage, m_origImage);
}

CxViewImageData::~CxViewImageData()
{
    FreeBuffer(m_origImage);
}

IxData* CxViewImageData::clone() const
{
    return new CxViewImageData(*this);
}

SxImageBuf& CxViewImageData::origImage()
{
    return m_origImage;
}

const SxImageBuf& CxViewImageData::origImage() const
{
    return m_origImage;
}

void CxViewImageData::setOrigImageDeep(const SxImageBuf& image)
{
    SetImageDeep(m_origImage, image);
}

void CxViewImageData::setOrigImageShallow(const SxImageBuf& image)
{
    m_origImage = image;
}

} // namespace ox
