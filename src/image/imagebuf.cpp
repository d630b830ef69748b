// Allocation, release, copies and sub-images of image buffers.

#include <ox/imagebuf.h>
#include <ox/memory.h>

#include "core/log.h"
#include "core/memory_internal.h"
#include "image/pixelops.h"

#include <QDataStream>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

namespace ox {

using namespace detail;

namespace {

// Minimum bytes of one row of bit-packed components of depth d in words of B = 8 x s bits.
quint64 BitPackedRowSize(quint64 s, int d, quint64 componentsPerRow)
{
    const double B = double(8 * s);
    const double f = (s == 1 || s == 2 || s == 4 || s == 8) ? 1.0 - (B - d) * (1.0 / B) : 1.0;
    return quint64(std::ceil(double(s * componentsPerRow) * f));
}

void ReleaseMemory(SxImageBuf& buf)
{
    if (!buf.data)
        return;
    if (buf.deleter)
        buf.deleter(buf.data);
    else
        GetFreeFuncPtr()(buf.data);
}

// The part of a rect.size() block placed at `at` that lies inside `b`, computed in 64 bits so that
// positions near the int range cannot overflow.
QRect ClippedTarget(const QPoint& at, const QSize& size, const SxImageInfo& b)
{
    const qint64 x0 = std::max<qint64>(at.x(), 0), y0 = std::max<qint64>(at.y(), 0);
    const qint64 x1 = std::min<qint64>(qint64(at.x()) + size.width(), b.width);
    const qint64 y1 = std::min<qint64>(qint64(at.y()) + size.height(), b.height);
    if (x1 <= x0 || y1 <= y0)
        return QRect();
    return QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
}

bool PlacedInside(const QPoint& at, const QSize& size, const SxImageInfo& b)
{
    return at.x() >= 0 && at.y() >= 0 && qint64(at.x()) + size.width() <= b.width &&
           qint64(at.y()) + size.height() <= b.height;
}

// Copies rect of src to dst at `at`, clipping the target to dst, one MemCpy per row; each thread
// copies one contiguous band of rows. When the two buffers share memory, the rows are moved one
// after the other, in the order that reads every source row before it is overwritten.
// The caller has checked both buffers; `s` is the component size. Returns the first failure of the
// copy hook (memory of different kinds without a hook), else eOk.
unsigned CopyRegionRows(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, const QPoint& at,
                        quint64 s)
{
    const QRect target = ClippedTarget(at, rect.size(), dst);
    if (target.isEmpty())
        return eOk;
    const QPoint srcTopLeft = rect.topLeft() + (target.topLeft() - at);
    const bool planar = src.packing == ePlanar && src.channels > 1;
    const quint64 pixelBytes = planar ? s : s * quint64(src.channels);
    const quint64 rowLength = quint64(target.width()) * pixelBytes;
    const int planes = planar ? src.channels : 1;
    const auto from = [&](int p, int row) {
        return RowPtr(src, srcTopLeft.y() + row, p) + quint64(srcTopLeft.x()) * pixelBytes;
    };
    const auto to = [&](int p, int row) {
        return RowPtr(dst, target.y() + row, p) + quint64(target.x()) * pixelBytes;
    };
    if (Overlaps(src, dst)) {
        // With the same row and plane pitches on both sides every row moves by the same distance:
        // moving them in the direction of the move reads each before it is overwritten. Other
        // pitches go through a copy of the source rows.
        const bool samePitches = src.rowBytes == dst.rowBytes && (planes == 1 || src.height == dst.height);
        if (samePitches) {
            const bool backwards = to(0, 0) > from(0, 0);
            for (int p = backwards ? planes - 1 : 0; p >= 0 && p < planes; p += backwards ? -1 : 1)
                for (int i = 0; i < target.height(); ++i) {
                    const int row = backwards ? target.height() - 1 - i : i;
                    std::memmove(to(p, row), from(p, row), rowLength);
                }
            return eOk;
        }
        const quint64 rows = quint64(target.height()) * quint64(planes);
        std::unique_ptr<quint8[]> scratch(new (std::nothrow) quint8[rows * rowLength]);
        if (!scratch)
            return eErrOutOfMemory;
        for (int p = 0; p < planes; ++p)
            for (int row = 0; row < target.height(); ++row)
                std::memcpy(scratch.get() + (quint64(p) * target.height() + row) * rowLength, from(p, row),
                            rowLength);
        for (int p = 0; p < planes; ++p)
            for (int row = 0; row < target.height(); ++row)
                std::memcpy(to(p, row), scratch.get() + (quint64(p) * target.height() + row) * rowLength,
                            rowLength);
        return eOk;
    }
    std::atomic<unsigned> failure{eOk};
    for (int p = 0; p < planes; ++p)
        ParallelFor(target.height(), [&](int row) {
            const unsigned code = MemCpy(to(p, row), from(p, row), rowLength, dst.memoryTag, src.memoryTag);
            if (!Succeeded(code))
                failure = code;
        });
    return failure;
}

// Region copy without logging; shared by the whole-image copy, Crop and the public region copy.
unsigned CopyRegion(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, const QPoint& at,
                    bool checkTarget)
{
    OX_CHECK(HasData(src), eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.channels == src.channels && dst.dataType == src.dataType, eErrInvalidArg3);
    OX_CHECK(src.channels <= 1 || dst.packing == src.packing, eErrInvalidArg3);
    OX_CHECK(!checkTarget || PlacedInside(at, rect.size(), dst), eErrInvalidArg4);
    OX_CHECK(src.packing == ePixel || src.packing == ePlanar, eErrUnsupported);
    // Only bytes move: one worker per component size; 64-bit integers are not handled here.
    return DispatchBySize<kAllTypes & ~kInt64Types>(src.dataType, [&](auto tag) {
        return CopyRegionRows(src, rect, dst, at, sizeof(typename decltype(tag)::type));
    });
}

template <typename T>
void MaskedCopyWorker(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, const QPoint& at,
                      const SxImageBuf& mask)
{
    int physical[4] = {0, 1, 2, 3};
    for (int c = 0; c < 3 && c < dst.channels; ++c)
        physical[c] = ChannelIndexLogicalToPhysical(c, dst);
    for (int y = 0; y < rect.height(); ++y) {
        const T* from = RowPtr<T>(src, rect.y() + y) + qint64(rect.x()) * src.channels;
        T* to = RowPtr<T>(dst, at.y() + y) + qint64(at.x()) * dst.channels;
        const quint8* m = RowPtr(mask, at.y() + y) + at.x();
        for (int x = 0; x < rect.width(); ++x) {
            if (m[x] == 0)
                continue;
            for (int c = 0; c < dst.channels; ++c)
                to[x * dst.channels + physical[c]] = from[x * src.channels + physical[c]];
        }
    }
}

} // namespace

quint64 GetImageTypeSize(ExImageDataType type)
{
    switch (type) {
    case eInt8:
    case eUInt8: return 1;
    case eInt16:
    case eUInt16: return 2;
    case eInt32:
    case eUInt32:
    case eFloat: return 4;
    case eDouble:
    case eInt64:
    case eUInt64: return 8;
    case eComplex: return 16;
    default: return 0;
    }
}

unsigned int AllocBuffer(SxImageBuf& buf, int width, int height, int channels, ExImageDataType type,
                         int rowBytes, int colorBitDepth, ExPixelPacking packing, bool zero,
                         ExPixelCompression compression)
{
    OX_CHECK(width >= 1, eErrInvalidArg1);
    OX_CHECK(height >= 1, eErrInvalidArg2);
    OX_CHECK(channels >= 1, eErrInvalidArg3);
    // The type is checked too: a component of unknown size cannot be allocated meaningfully.
    OX_CHECK(IsKnownType(type), eErrInvalidArg4);
    const quint64 s = GetImageTypeSize(type);
    const int B = int(8 * s);
    OX_CHECK(colorBitDepth <= B, eErrInvalidArg7);
    const int depth = colorBitDepth < 1 ? B : colorBitDepth;

    const quint64 componentsPerRow = quint64(width) * quint64(packing == ePixel ? channels : 1);
    // Rows beyond 2^58 components cannot be stored (the row size is an int); saturating keeps the
    // byte count from wrapping around.
    const bool huge = componentsPerRow > (quint64(1) << 58);
    quint64 minRow = 0;
    if (compression == eUncompressed || depth == B) {
        OX_CHECK(packing == ePixel || packing == ePlanar, eErrInvalidArg8);
        minRow = huge ? ~quint64(0) : s * componentsPerRow;
    } else if (compression == eBitPacked) {
        minRow = huge ? ~quint64(0) : BitPackedRowSize(s, depth, componentsPerRow);
    } else {
        return eErrUnsupported; // no other way of packing components is known
    }
    quint64 row = 0;
    if (rowBytes < 1) {
        OX_CHECK(minRow <= quint64(INT_MAX), eErrOutOfMemory);
        row = (minRow + 31) / 32 * 32;
        OX_CHECK(row <= quint64(INT_MAX), eErrOutOfMemory);
    } else {
        OX_CHECK(quint64(rowBytes) >= minRow, eErrInvalidArg6);
        row = quint64(rowBytes);
    }
    const quint64 planes = packing == ePlanar ? quint64(channels) : 1;
    // rows x height fits in 62 bits; a channel count that would overflow is out of memory anyway.
    const quint64 planeBytes = row * quint64(height);
    OX_CHECK(planes <= (quint64(1) << 62) / (planeBytes ? planeBytes : 1), eErrOutOfMemory);
    const quint64 size = planeBytes * planes;

    MallocFuncPtr allocate = GetMallocFuncPtr();
    void* memory = allocate(size);
    OX_CHECK(memory != nullptr, eErrOutOfMemory);
    buf.data = static_cast<quint8*>(memory);
    buf.memoryTag = IsDefaultMallocHook(allocate) ? 0 : quint64(reinterpret_cast<quintptr>(allocate));
    buf.deleter = GetFreeFuncPtr();
    if (zero)
        std::memset(memory, 0, size);
    buf.dataType = type;
    buf.dataSize = size;
    buf.width = width;
    buf.height = height;
    buf.rowBytes = int(row);
    buf.channels = channels;
    buf.colorBitDepth = depth;
    buf.packing = packing;
    buf.compression = compression;
    return eOk;
}

unsigned int AllocBuffer(const SxImageInfo& info, SxImageBuf& buf, bool zero)
{
    const unsigned code =
        AllocBuffer(buf, info.width, info.height, info.channels, info.dataType, info.rowBytes,
                    info.colorBitDepth, info.packing, zero, info.compression);
    buf.colorOrder = info.colorOrder;
    buf.bayerGrid = info.bayerGrid;
    buf.mosaicWidth = info.mosaicWidth;
    buf.mosaicHeight = info.mosaicHeight;
    return code == eOk ? eOk : eErrFailed;
}

unsigned int AllocBuffer(const SxImageInfo& info, QList<SxImageBuf>& bufs, bool zero)
{
    unsigned result = eOk;
    for (SxImageBuf& buf : bufs)
        if (AllocBuffer(info, buf, zero) != eOk)
            result = eErrFailed;
    return result;
}

unsigned int AllocAndCopyBuffer(const SxImageBuf& src, SxImageBuf& dst)
{
    const unsigned code = AllocBuffer(dst, src.width, src.height, src.channels, src.dataType, src.rowBytes,
                                      src.colorBitDepth, src.packing, false, src.compression);
    dst.colorOrder = src.colorOrder;
    dst.bayerGrid = src.bayerGrid;
    dst.mosaicWidth = src.mosaicWidth;
    dst.mosaicHeight = src.mosaicHeight;
    OX_CHECK(code == eOk, eErrFailed);
    return CopyBuffer(src, dst);
}

void FreeBuffer(SxImageBuf& buf)
{
    if (buf.data) {
        ReleaseMemory(buf);
        buf.data = nullptr;
        buf.dataSize = 0;
    }
    buf.width = 0;
    buf.height = 0;
    buf.rowBytes = 0;
    buf.channels = 0;
    buf.colorBitDepth = 0;
    buf.dataType = eUnknown;
    buf.packing = ePixel;
    buf.colorOrder = 0;
    buf.bayerGrid = eNoBayer;
}

void FreeBuffer(QList<SxImageBuf>& bufs)
{
    for (SxImageBuf& buf : bufs)
        FreeBuffer(buf);
}

unsigned int CopyBuffer(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(src.data && IsKnownType(src.dataType), eErrInvalidArg1);
    OX_CHECK(dst.data && dst.width == src.width && dst.height == src.height, eErrInvalidArg2);
    OX_CHECK(dst.channels == src.channels && dst.dataType == src.dataType, eErrInvalidArg2);
    OX_CHECK(src.channels <= 1 || dst.packing == src.packing, eErrInvalidArg2);

    unsigned code = eOk;
    if (IsBitPacked(src) || IsBitPacked(dst)) {
        // Packed rows are copied as they are, between buffers packed alike.
        OX_CHECK(IsBitPacked(src) && IsBitPacked(dst) && src.compression == dst.compression &&
                     src.colorBitDepth == dst.colorBitDepth && dst.packing == src.packing,
                 eErrInvalidArg2);
        const quint64 used = BitPackedRowSize(GetImageTypeSize(src.dataType), src.colorBitDepth,
                                              WholeComponentsRowBytes(src) / GetImageTypeSize(src.dataType));
        OX_CHECK(quint64(std::max(src.rowBytes, 0)) >= used, eErrInvalidArg1);
        OX_CHECK(quint64(std::max(dst.rowBytes, 0)) >= used && !Overlaps(src, dst), eErrInvalidArg2);
        for (int p = 0; p < PlaneCount(src) && Succeeded(code); ++p)
            for (int y = 0; y < src.height && Succeeded(code); ++y)
                code = MemCpy(RowPtr(dst, y, p), RowPtr(src, y, p), used, dst.memoryTag, src.memoryTag);
    } else {
        OX_CHECK(HasData(src), eErrInvalidArg1);
        OX_CHECK(HasData(dst), eErrInvalidArg2);
        const quint64 size = ImageByteSize(src);
        if (size == ImageByteSize(dst) && !Overlaps(src, dst)) {
            // One block, without the padding after the very last row: the memory of a sub-image
            // ends where its last row does. (The bytes between rows move too: copy sub-images of
            // larger images with the region copy.)
            const quint64 used = WholeComponentsRowBytes(src);
            const quint64 tail = quint64(src.rowBytes) > used ? quint64(src.rowBytes) - used : 0;
            code = MemCpy(dst.data, src.data, size - tail, dst.memoryTag, src.memoryTag);
        } else {
            code = CopyRegion(src, Bounds(src), dst, QPoint(0, 0), true);
        }
    }
    if (!Succeeded(code)) {
        LogError(QStringLiteral("Failed to copy the image buffer."));
        return eErrFailed;
    }
    return code;
}

unsigned int CopyBuffer(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, const QPoint& at,
                        bool checkTarget)
{
    return CopyRegion(src, rect, dst, at, checkTarget);
}

unsigned int CopyBuffer(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, const QPoint& at,
                        const SxImageBuf& mask, bool /*flag: reserved, selects nothing*/)
{
    OX_CHECK(HasData(src) && IsTypeIn(src.dataType, kUInt8And16), eErrInvalidArg1);
    OX_CHECK(src.channels == 1 || ((src.channels == 3 || src.channels == 4) && src.packing == ePixel),
             eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.channels >= 1 && dst.channels <= src.channels && dst.channels != 2,
             eErrInvalidArg3);
    OX_CHECK(dst.dataType == src.dataType && dst.packing == src.packing, eErrInvalidArg3);
    OX_CHECK(PlacedInside(at, rect.size(), dst), eErrInvalidArg4);
    OX_CHECK(HasData(mask) && mask.channels == 1 && mask.dataType == eUInt8, eErrInvalidArg5);
    OX_CHECK(mask.width == dst.width && mask.height == dst.height, eErrInvalidArg5);
    return DispatchBySize<kUInt8And16>(src.dataType, [&](auto tag) {
        MaskedCopyWorker<typename decltype(tag)::type>(src, rect, dst, at, mask);
        return unsigned(eOk);
    });
}

unsigned int ShallowSubImage(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && src.packing == ePixel, eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    dst = src;
    dst.width = rect.width();
    dst.height = rect.height();
    const quint64 s = GetImageTypeSize(src.dataType);
    OX_CHECK(s == 1 || s == 2 || s == 4 || s == 8, eErrUnsupported);
    dst.data = src.data + qint64(rect.y()) * src.rowBytes + quint64(rect.x()) * quint64(src.channels) * s;
    return eOk;
}

unsigned int Crop(SxImageBuf& buf, const QRect& rect)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    OX_CHECK(RectInside(rect, buf), eErrInvalidArg2);
    if (rect == Bounds(buf))
        return eOk;
    SxImageInfo info;
    info.width = rect.width();
    info.height = rect.height();
    info.channels = buf.channels;
    info.colorBitDepth = buf.colorBitDepth;
    info.dataType = buf.dataType;
    info.packing = buf.packing;
    SxImageBuf cropped;
    OX_CHECK(AllocBuffer(info, cropped, false) == eOk, eErrOutOfMemory);
    if (CopyRegion(buf, rect, cropped, QPoint(0, 0), true) != eOk) {
        FreeBuffer(cropped);
        return eErrFailed;
    }
    ReleaseMemory(buf);
    buf = cropped;
    return eOk;
}

int ChannelIndexLogicalToPhysical(int index, const SxImageBuf& buf)
{
    if (index < 0 || !IsKnownType(buf.dataType))
        return -1;
    const bool byteInterleaved =
        (buf.dataType == eInt8 || buf.dataType == eUInt8) && buf.packing != ePlanar && buf.channels < 5;
    if (!byteInterleaved)
        return index;
    if (buf.channels == 1 && index == 0)
        return 0;
    if (buf.colorOrder < 2) {
        static const int blueFirst[4] = {2, 1, 0, 3};
        return index < 4 ? blueFirst[index] : -1;
    }
    return index;
}

unsigned int CompressPixels(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && IsTypeIn(src.dataType, kUInt8And16), eErrInvalidArg1);
    OX_CHECK(dst.data != nullptr, eErrInvalidArg2); // bit-packed by purpose
    const bool sameFormat = dst.width == src.width && dst.height == src.height &&
                            dst.channels == src.channels && dst.colorBitDepth == src.colorBitDepth &&
                            dst.dataType == src.dataType && dst.packing == src.packing;
    OX_CHECK(!sameFormat, eErrInvalidArg2);
    OX_CHECK(dst.compression != eUncompressed, eErrInvalidArg2);
    OX_CHECK(quint64(dst.colorBitDepth) != 8 * GetImageTypeSize(dst.dataType), eErrInvalidArg2);
    return eOk;
}

void CleanUpImageBufQImage(void* p)
{
    if (p)
        std::free(p);
}

QDataStream& operator<<(QDataStream& out, const SxImageInfo& info)
{
    for (qint32 v : {info.width, info.height, info.channels, info.colorBitDepth, qint32(info.dataType),
                     qint32(info.packing), info.colorOrder, qint32(info.bayerGrid), qint32(info.compression),
                     info.mosaicWidth, info.mosaicHeight})
        out << v;
    return out;
}

QDataStream& operator>>(QDataStream& in, SxImageInfo& info)
{
    qint32 v[11] = {};
    for (qint32& x : v)
        in >> x;
    info.width = v[0];
    info.height = v[1];
    info.rowBytes = 0;
    info.channels = v[2];
    info.colorBitDepth = v[3];
    info.dataType = ExImageDataType(v[4]);
    info.packing = ExPixelPacking(v[5]);
    info.colorOrder = v[6];
    info.bayerGrid = ExBayerGrid(v[7]);
    info.compression = ExPixelCompression(v[8]);
    info.mosaicWidth = v[9];
    info.mosaicHeight = v[10];
    return in;
}

} // namespace ox
