#pragma once

#include <ox/errors.h>
#include <ox/export.h>

#include <QList>
#include <QMetaType>
#include <QPoint>
#include <QRect>
#include <QtGlobal>

class QDataStream;

// The image buffer model: a plain descriptor (SxImageBuf) that points at pixel memory and says how
// to read it, its format half (SxImageInfo), and the allocation, release, copy and sub-image
// operations. Every function returns an ExErrorCode (see errors.h); arguments are checked in the
// documented order and the first failing check decides the code. Operations keep no state and take
// no locks: several may run at once on different buffers.
//
// Memory layout, with s = GetImageTypeSize(dataType):
//   ePixel:  pixel (x, y) channel c at data + y * rowBytes + (x * channels + c) * s
//   ePlanar: plane c at data + c * rowBytes * height; pixel (x, y) at plane + y * rowBytes + x * s
// 8-bit interleaved images with at most four channels and colorOrder 0 or 1 store blue first
// (B, G, R, A in memory); everything else is stored in logical order.
//
// Bit-packed buffers (compression eBitPacked with colorBitDepth below the component width) can be
// allocated, copied whole into a buffer packed alike, and freed; every other operation refuses
// them, as it refuses a buffer whose rowBytes is shorter than one row of whole components, with
// the code of that buffer's argument ("without data").

namespace ox {

enum ExImageDataType : qint32 {
    eUnknown = 0,
    eInt8 = 1,
    eUInt8 = 2,
    eInt16 = 3,
    eUInt16 = 4,
    eInt32 = 5,
    eUInt32 = 6,
    eFloat = 7,
    eDouble = 8,
    eComplex = 9, // two doubles
    eInt64 = 10,
    eUInt64 = 11,
};

enum ExPixelPacking : qint32 {
    ePixel = 0, // interleaved
    ePlanar = 1,
};

enum ExPixelCompression : qint32 {
    eUncompressed = 0,
    eBitPacked = 1, // each component takes exactly colorBitDepth bits; rows padded to whole bytes
};

// Colour-filter layout of a raw single-channel image: the colours of the 2 x 2 cell in the order
// top-left, top-right, bottom-left, bottom-right.
enum ExBayerGrid : qint32 {
    eBGGR = 0,
    eRGGB = 1,
    eGBRG = 2,
    eGRBG = 3,
    eNoBayer = 4,
    eMultispectral = 5,
};

// Describes an image without memory.
struct SxImageInfo
{
    qint32 width = 0;
    qint32 height = 0;
    qint32 rowBytes = 0; // bytes from one row to the next (within a plane); <= 0 lets allocation choose
    qint32 channels = 0;
    qint32 colorBitDepth = 0; // significant bits per component
    ExImageDataType dataType = eUnknown;
    ExPixelPacking packing = ePixel;
    qint32 colorOrder = 1; // 0, 1: blue first for 8-bit interleaved images; 2 and more: red first
    ExBayerGrid bayerGrid = eNoBayer;
    ExPixelCompression compression = eUncompressed;
    qint32 mosaicWidth = 0; // cell size of an eMultispectral mosaic
    qint32 mosaicHeight = 0;
};

// An image descriptor with its memory. A plain value: copying it never copies pixels. The
// descriptor AllocBuffer filled owns the memory until FreeBuffer is called on it (or on one copy).
// Descriptors from ShallowSubImage, or pointed at foreign memory, own nothing.
struct SxImageBuf : SxImageInfo
{
    quint8* data = nullptr;           // first byte of row 0 (of plane 0 when planar)
    quint64 dataSize = 0;             // bytes allocated for data
    quint64 memoryTag = 0;            // 0: C runtime memory; else the address of the allocation hook used
    void (*deleter)(void*) = nullptr; // releases data; null: the release hook current at release
    quint64 userData = 0;             // opaque to the library
};

// Component size in bytes; 0 for values outside the enumeration.
OX_EXPORT quint64 GetImageTypeSize(ExImageDataType type);

// Allocates pixel memory through the allocation hook and fills `buf` (any memory `buf` already
// points to is not released). Checks: width < 1: eErrInvalidArg1; height < 1: eErrInvalidArg2;
// channels < 1: eErrInvalidArg3; colorBitDepth above 8 x the component size: eErrInvalidArg7;
// uncompressed data in a packing other than ePixel/ePlanar: eErrInvalidArg8; a positive rowBytes
// below the minimum row size: eErrInvalidArg6; a compression other than the two with
// colorBitDepth below the component width: eErrUnsupported; no memory, or a row longer than the int
// range: eErrOutOfMemory. rowBytes <= 0 chooses
// the minimum row size rounded up to 32 bytes; colorBitDepth < 1 means the full component width.
// colorOrder, bayerGrid, mosaic sizes and userData are left as they were.
OX_EXPORT unsigned int AllocBuffer(SxImageBuf& buf, int width, int height, int channels, ExImageDataType type,
                                   int rowBytes, int colorBitDepth, ExPixelPacking packing, bool zero,
                                   ExPixelCompression compression);
// Allocates from a format; copies colorOrder, bayerGrid and the mosaic sizes whatever the outcome.
// eOk or eErrFailed.
OX_EXPORT unsigned int AllocBuffer(const SxImageInfo& info, SxImageBuf& buf, bool zero);
// Allocates every element of the list (continuing after a failure); eErrFailed if any failed.
OX_EXPORT unsigned int AllocBuffer(const SxImageInfo& info, QList<SxImageBuf>& bufs, bool zero);
// Allocates `dst` in the format of `src` (same row size when src.rowBytes is positive) and copies
// the pixels. eErrFailed when the allocation fails, else the result of the copy.
OX_EXPORT unsigned int AllocAndCopyBuffer(const SxImageBuf& src, SxImageBuf& dst);

// Releases the memory (with the buffer's deleter, else the current release hook) and resets the
// format fields; compression, mosaic sizes, memoryTag, deleter and userData are kept. Calling it
// again is harmless.
OX_EXPORT void FreeBuffer(SxImageBuf& buf);
OX_EXPORT void FreeBuffer(QList<SxImageBuf>& bufs);

// Copies the whole image. Checks: src without data or of unknown type: eErrInvalidArg1; dst
// without data or of different width, height, channels, type (or packing with several channels):
// eErrInvalidArg2. Equal byte sizes copy as one block (the bytes between rows included: copy
// sub-images of larger images with the region copy), otherwise row by row; buffers that share
// memory are copied row by row in a safe order (through a copy of the source rows when their
// row or plane pitches differ). Bit-packed rows are copied only into a buffer packed
// alike (else eErrInvalidArg2). A failed copy writes "Failed to copy the image buffer." and gives
// eErrFailed.
OX_EXPORT unsigned int CopyBuffer(const SxImageBuf& src, SxImageBuf& dst);
// Copies `rect` of `src` to `dst` at `at`. Checks: src without data: eErrInvalidArg1; rect not
// wholly inside src: eErrInvalidArg2; dst without data, other channels or type (or packing with
// several channels): eErrInvalidArg3; with checkTarget, the target rectangle not wholly inside dst:
// eErrInvalidArg4; 64-bit integer types: eErrUnsupported. The target is always clipped to dst.
// Source and destination may share memory (moving a region within one image).
OX_EXPORT unsigned int CopyBuffer(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, const QPoint& at,
                                  bool checkTarget);
// Masked copy of 8- or 16-bit images: pixels whose mask byte (at the destination position) is not 0
// are copied. src: 1 channel in any packing or 3/4 channels interleaved, else eErrInvalidArg1;
// rect outside src: eErrInvalidArg2; dst without data, more channels than src, 2 channels, other
// type or packing: eErrInvalidArg3; target outside dst: eErrInvalidArg4; mask not a one-channel
// 8-bit image of dst's size: eErrInvalidArg5. `flag` has no effect.
OX_EXPORT unsigned int CopyBuffer(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, const QPoint& at,
                                  const SxImageBuf& mask, bool flag);

// Makes `dst` describe `rect` of `src` without copying (interleaved buffers only). The result
// shares src's memory and row size and must never be released. Checks: src without data or planar:
// eErrInvalidArg1; rect outside: eErrInvalidArg2; eComplex or unknown type: eErrUnsupported.
OX_EXPORT unsigned int ShallowSubImage(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst);

// Crops `buf` in place to `rect` (new memory, row size chosen anew, colorOrder 1, no Bayer grid).
// Checks: no data: eErrInvalidArg1; rect outside: eErrInvalidArg2; no memory: eErrOutOfMemory.
// A rectangle equal to the image leaves the buffer untouched.
OX_EXPORT unsigned int Crop(SxImageBuf& buf, const QRect& rect);

// Physical position of logical channel `index` (red 0, green 1, blue 2, alpha 3); -1 when invalid.
OX_EXPORT int ChannelIndexLogicalToPhysical(int index, const SxImageBuf& buf);

// Validates a request to bit-pack `src` into `dst`; packing itself is not implemented, so a valid
// request returns eOk without writing. src without data or not 8/16-bit: eErrInvalidArg1; dst
// without data, of identical format, uncompressed, or at full component depth: eErrInvalidArg2.
OX_EXPORT unsigned int CompressPixels(const SxImageBuf& src, SxImageBuf& dst);

// Releases `p` with the C runtime's free when not null: the clean-up function for a QImage that
// wraps buffer memory.
OX_EXPORT void CleanUpImageBufQImage(void* p);

// Data-stream form: eleven 32-bit integers (width, height, channels, colorBitDepth, dataType,
// packing, colorOrder, bayerGrid, compression, mosaicWidth, mosaicHeight); rowBytes is not
// written and reads back as 0.
OX_EXPORT QDataStream& operator<<(QDataStream& out, const SxImageInfo& info);
OX_EXPORT QDataStream& operator>>(QDataStream& in, SxImageInfo& info);

} // namespace ox

Q_DECLARE_METATYPE(ox::SxImageInfo)
