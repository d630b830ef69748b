#include <ox/imagebuf.h>
#include <ox/memory.h>

#include "support/image_helpers.h"
#include "support/message_capture.h"

#include <QBuffer>
#include <QDataStream>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

using namespace ox;
using oxtest::getPixel;
using oxtest::pattern;
using oxtest::setPixel;

namespace {

std::atomic<int> g_allocs{0};
std::atomic<int> g_frees{0};
std::atomic<int> g_hookCopies{0};

void* countingMalloc(quint64 size)
{
    ++g_allocs;
    return std::malloc(size ? size : 1);
}
void countingFree(void* p)
{
    ++g_frees;
    std::free(p);
}
bool countingCopy(void* dst, const void* src, quint64 size, quint64, quint64)
{
    ++g_hookCopies;
    std::memcpy(dst, src, size);
    return true;
}
void* failingMalloc(quint64)
{
    return nullptr;
}

// Installs counting hooks for one test and restores the defaults afterwards.
class CountingHooks
{
public:
    CountingHooks()
    {
        g_allocs = g_frees = g_hookCopies = 0;
        SetMemoryFuncPtrs(countingMalloc, countingFree, countingCopy);
    }
    ~CountingHooks() { SetDefaultMemoryFuncPtr(); }
};

SxImageBuf alloc(int w, int h, int ch, ExImageDataType t, ExPixelPacking p = ePixel, int rowBytes = 0)
{
    SxImageBuf b;
    EXPECT_EQ(AllocBuffer(b, w, h, ch, t, rowBytes, 0, p, true, eUncompressed), eOk);
    return b;
}

const ExImageDataType kCopyableTypes[] = {eInt8,   eUInt8, eInt16,  eUInt16, eInt32,
                                          eUInt32, eFloat, eDouble, eComplex};

bool componentEquals(const SxImageBuf& a, int ax, int ay, const SxImageBuf& b, int bx, int by, int c)
{
    const std::size_t s = oxtest::componentSize(a.dataType);
    return std::memcmp(oxtest::pixelAddress(a, ax, ay, c), oxtest::pixelAddress(b, bx, by, c), s) == 0;
}

// Gives every byte of every component a value derived from its coordinates.
void fillBytePattern(SxImageBuf& b)
{
    const std::size_t s = oxtest::componentSize(b.dataType);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                for (std::size_t i = 0; i < s; ++i)
                    oxtest::pixelAddress(b, x, y, c)[i] = quint8(pattern(x, y, c) + i * 29);
}

} // namespace

TEST(AllocBuffer, ChecksArgumentsInOrder)
{
    SxImageBuf b;
    EXPECT_EQ(AllocBuffer(b, 0, 0, 0, eUInt8, 0, 0, ePixel, false, eUncompressed), eErrInvalidArg1);
    EXPECT_EQ(AllocBuffer(b, 1, 0, 0, eUInt8, 0, 0, ePixel, false, eUncompressed), eErrInvalidArg2);
    EXPECT_EQ(AllocBuffer(b, 1, 1, 0, eUInt8, 0, 0, ePixel, false, eUncompressed), eErrInvalidArg3);
    EXPECT_EQ(AllocBuffer(b, 1, 1, 1, eUnknown, 0, 0, ePixel, false, eUncompressed), eErrInvalidArg4);
    EXPECT_EQ(AllocBuffer(b, 1, 1, 1, eUInt16, -1, 17, ExPixelPacking(2), false, eUncompressed),
              eErrInvalidArg7);
    EXPECT_EQ(AllocBuffer(b, 100, 1, 3, eUInt8, 299, 0, ExPixelPacking(2), false, eUncompressed),
              eErrInvalidArg8);
    EXPECT_EQ(AllocBuffer(b, 100, 1, 3, eUInt8, 299, 0, ePixel, false, eUncompressed), eErrInvalidArg6);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.width, 0);
}

TEST(AllocBuffer, ChoosesRowSizesAndDepths)
{
    struct Case
    {
        int width, channels;
        ExImageDataType type;
        ExPixelPacking packing;
        int rowBytes, depth;
        ExPixelCompression compression;
        int expectedRow, expectedDepth;
        quint64 expectedSize; // for height 3
    };
    const Case cases[] = {
        {100, 3, eUInt8, ePixel, 0, 0, eUncompressed, 320, 8, 960},
        {100, 3, eUInt8, ePixel, 300, 0, eUncompressed, 300, 8, 900},
        {100, 3, eUInt8, ePlanar, 0, 0, eUncompressed, 128, 8, 128 * 3 * 3},
        {10, 1, eUInt16, ePixel, 0, 0, eUncompressed, 32, 16, 96},
        {10, 1, eUInt16, ePixel, 0, 12, eUncompressed, 32, 12, 96},
        {4, 1, eInt64, ePixel, 0, 0, eUncompressed, 32, 64, 96},
        {4, 1, eUInt64, ePixel, 33, 0, eUncompressed, 33, 64, 99},
        {2, 1, eComplex, ePixel, 0, 0, eUncompressed, 32, 128, 96},
        // 12 bits in 16-bit words, 3 channels, width 5: 22.5 bytes round up to 23.
        {5, 3, eUInt16, ePixel, 23, 12, eBitPacked, 23, 12, 69},
        {5, 3, eUInt16, ePixel, 0, 12, eBitPacked, 32, 12, 96},
        // Bit-packed at full depth is the plain layout.
        {5, 3, eUInt16, ePixel, 30, 16, eBitPacked, 30, 16, 90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "width " << c.width << " type " << c.type << " row " << c.rowBytes);
        SxImageBuf b;
        b.colorOrder = 7;
        b.bayerGrid = eGRBG;
        b.userData = 42;
        ASSERT_EQ(AllocBuffer(b, c.width, 3, c.channels, c.type, c.rowBytes, c.depth, c.packing, true,
                              c.compression),
                  eOk);
        EXPECT_EQ(b.rowBytes, c.expectedRow);
        EXPECT_EQ(b.colorBitDepth, c.expectedDepth);
        EXPECT_EQ(b.dataSize, c.expectedSize);
        EXPECT_EQ(b.memoryTag, 0u);
        // Fields the allocation does not own are left alone.
        EXPECT_EQ(b.colorOrder, 7);
        EXPECT_EQ(b.bayerGrid, eGRBG);
        EXPECT_EQ(b.userData, 42u);
        for (quint64 i = 0; i < b.dataSize; ++i)
            ASSERT_EQ(b.data[i], 0) << "byte " << i << " not zeroed";
        FreeBuffer(b);
    }
    SxImageBuf b;
    EXPECT_EQ(AllocBuffer(b, 5, 1, 3, eUInt16, 22, 12, ePixel, false, eBitPacked), eErrInvalidArg6);
}

TEST(AllocBuffer, UsesTheHooksAndTagsTheMemory)
{
    CountingHooks hooks;
    SxImageBuf b = alloc(8, 8, 1, eUInt8);
    EXPECT_EQ(g_allocs, 1);
    EXPECT_EQ(b.memoryTag, quint64(reinterpret_cast<quintptr>(&countingMalloc)));
    EXPECT_EQ(b.deleter, &countingFree);

    // The buffer keeps its release hook even after the hooks change.
    SetDefaultMemoryFuncPtr();
    FreeBuffer(b);
    EXPECT_EQ(g_frees, 1);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.dataSize, 0u);

    // Out of memory: data stays null and the descriptor keeps its other fields.
    SetMemoryFuncPtrs(failingMalloc, countingFree, countingCopy);
    SxImageBuf c;
    c.width = 5;
    EXPECT_EQ(AllocBuffer(c, 8, 8, 1, eUInt8, 0, 0, ePixel, false, eUncompressed), eErrOutOfMemory);
    EXPECT_EQ(c.data, nullptr);
    EXPECT_EQ(c.width, 5);
    SxImageInfo info;
    info.width = info.height = info.channels = 4;
    info.dataType = eUInt8;
    info.bayerGrid = eRGGB;
    info.colorOrder = 3;
    EXPECT_EQ(AllocBuffer(info, c, false), eErrFailed);
    EXPECT_EQ(c.bayerGrid, eRGGB); // copied whatever the outcome
    EXPECT_EQ(c.colorOrder, 3);
}

TEST(AllocBuffer, InfoAndListForms)
{
    SxImageInfo info;
    info.width = 7;
    info.height = 5;
    info.channels = 3;
    info.dataType = eUInt16;
    info.bayerGrid = eGBRG;
    info.colorOrder = 2;
    info.mosaicWidth = 4;
    info.mosaicHeight = 2;
    QList<SxImageBuf> bufs{SxImageBuf(), SxImageBuf()};
    ASSERT_EQ(AllocBuffer(info, bufs, false), eOk);
    for (const SxImageBuf& b : bufs) {
        EXPECT_EQ(b.rowBytes, 64);
        EXPECT_EQ(b.bayerGrid, eGBRG);
        EXPECT_EQ(b.colorOrder, 2);
        EXPECT_EQ(b.mosaicWidth, 4);
        EXPECT_EQ(b.mosaicHeight, 2);
    }
    FreeBuffer(bufs);
    EXPECT_EQ(bufs.size(), 2);
    EXPECT_EQ(bufs[1].data, nullptr);

    QList<SxImageBuf> empty;
    EXPECT_EQ(AllocBuffer(info, empty, false), eOk);
    info.width = 0;
    QList<SxImageBuf> one{SxImageBuf()};
    EXPECT_EQ(AllocBuffer(info, one, false), eErrFailed);
}

TEST(FreeBuffer, ResetsTheFormatAndIsHarmlessTwice)
{
    CountingHooks hooks;
    SxImageBuf b;
    b.mosaicWidth = 3;
    b.mosaicHeight = 4;
    b.userData = 9;
    ASSERT_EQ(AllocBuffer(b, 4, 4, 3, eUInt16, 0, 12, ePlanar, false, eBitPacked), eOk);
    b.bayerGrid = eBGGR;
    const quint64 tag = b.memoryTag;
    FreeBuffer(b);
    FreeBuffer(b);
    EXPECT_EQ(g_frees, 1);
    EXPECT_EQ(b.width, 0);
    EXPECT_EQ(b.height, 0);
    EXPECT_EQ(b.rowBytes, 0);
    EXPECT_EQ(b.channels, 0);
    EXPECT_EQ(b.colorBitDepth, 0);
    EXPECT_EQ(b.dataType, eUnknown);
    EXPECT_EQ(b.packing, ePixel);
    EXPECT_EQ(b.colorOrder, 0);
    EXPECT_EQ(b.bayerGrid, eNoBayer);
    EXPECT_EQ(b.compression, eBitPacked);
    EXPECT_EQ(b.mosaicWidth, 3);
    EXPECT_EQ(b.mosaicHeight, 4);
    EXPECT_EQ(b.memoryTag, tag);
    EXPECT_EQ(b.deleter, &countingFree);
    EXPECT_EQ(b.userData, 9u);
}

TEST(GetImageTypeSize, CoversEveryType)
{
    const quint64 expected[] = {0, 1, 1, 2, 2, 4, 4, 4, 8, 16, 8, 8};
    for (int t = 0; t < 12; ++t)
        EXPECT_EQ(GetImageTypeSize(ExImageDataType(t)), expected[t]) << t;
    EXPECT_EQ(GetImageTypeSize(ExImageDataType(12)), 0u);
    EXPECT_EQ(GetImageTypeSize(ExImageDataType(-1)), 0u);
}

TEST(CopyBuffer, WholeImageChecksAndBlockOrRowCopies)
{
    SxImageBuf src = alloc(10, 6, 3, eUInt8);
    SxImageBuf dst = alloc(10, 6, 3, eUInt8);
    SxImageBuf wrong = alloc(10, 6, 1, eUInt8);
    SxImageBuf none;
    EXPECT_EQ(CopyBuffer(none, dst), eErrInvalidArg1);
    EXPECT_EQ(CopyBuffer(src, none), eErrInvalidArg2);
    EXPECT_EQ(CopyBuffer(src, wrong), eErrInvalidArg2);
    FreeBuffer(wrong);

    // Different memory tags route every copy through the copy hook, which counts them.
    CountingHooks hooks;
    SxImageBuf padded = alloc(10, 6, 3, eUInt8, ePixel, 45);
    oxtest::fill<quint8>(src, pattern);
    EXPECT_EQ(CopyBuffer(src, padded), eOk);
    EXPECT_EQ(g_hookCopies, 6); // row sizes differ: one copy per row
    g_hookCopies = 0;
    SxImageBuf same = alloc(10, 6, 3, eUInt8);
    EXPECT_EQ(CopyBuffer(src, same), eOk);
    EXPECT_EQ(g_hookCopies, 1); // equal sizes: one block
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(getPixel<quint8>(padded, x, y, c), quint8(pattern(x, y, c)));
                ASSERT_EQ(getPixel<quint8>(same, x, y, c), quint8(pattern(x, y, c)));
            }
    FreeBuffer(padded);
    FreeBuffer(same);
    SetDefaultMemoryFuncPtr();

    // Without a copy hook, memory of another kind cannot be reached: the copy fails and says so.
    dst.memoryTag = 1234;
    oxtest::MessageCapture capture;
    EXPECT_EQ(CopyBuffer(src, dst), eErrFailed);
    EXPECT_EQ(capture.lines(),
              QStringList{oxtest::MessageCapture::error("Failed to copy the image buffer.")});
    dst.memoryTag = 0;
    FreeBuffer(src);
    FreeBuffer(dst);
}

TEST(CopyBuffer, RegionChecksInOrder)
{
    SxImageBuf src = alloc(8, 8, 3, eUInt8);
    SxImageBuf dst = alloc(4, 4, 3, eUInt8);
    SxImageBuf mono = alloc(4, 4, 1, eUInt8);
    SxImageBuf planar = alloc(4, 4, 3, eUInt8, ePlanar);
    SxImageBuf none;
    EXPECT_EQ(CopyBuffer(none, QRect(9, 9, 9, 9), none, QPoint(), true), eErrInvalidArg1);
    EXPECT_EQ(CopyBuffer(src, QRect(5, 5, 4, 4), none, QPoint(), true), eErrInvalidArg2);
    EXPECT_EQ(CopyBuffer(src, QRect(-1, 0, 2, 2), dst, QPoint(), true), eErrInvalidArg2);
    EXPECT_EQ(CopyBuffer(src, QRect(0, 0, 4, 4), none, QPoint(9, 9), true), eErrInvalidArg3);
    EXPECT_EQ(CopyBuffer(src, QRect(0, 0, 4, 4), mono, QPoint(9, 9), true), eErrInvalidArg3);
    EXPECT_EQ(CopyBuffer(src, QRect(0, 0, 4, 4), planar, QPoint(9, 9), true), eErrInvalidArg3);
    EXPECT_EQ(CopyBuffer(src, QRect(0, 0, 4, 4), dst, QPoint(1, 0), true), eErrInvalidArg4);
    EXPECT_EQ(CopyBuffer(src, QRect(0, 0, 4, 4), dst, QPoint(1, 0), false), eOk);

    SxImageBuf big64 = alloc(4, 4, 1, eInt64);
    SxImageBuf dst64 = alloc(4, 4, 1, eInt64);
    EXPECT_EQ(CopyBuffer(big64, QRect(0, 0, 2, 2), dst64, QPoint(), true), eErrUnsupported);
    for (SxImageBuf* b : {&src, &dst, &mono, &planar, &big64, &dst64})
        FreeBuffer(*b);
}

TEST(CopyBuffer, RegionCopiesEveryTypeAndClipsToTheTarget)
{
    for (ExImageDataType type : kCopyableTypes) {
        for (ExPixelPacking packing : {ePixel, ePlanar}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " packing " << packing);
            SxImageBuf src = alloc(13, 11, 3, type, packing);
            // Odd, padded destination row size; sentinel bytes everywhere.
            SxImageBuf dst = alloc(9, 7, 3, type, packing, int(9 * 3 * GetImageTypeSize(type) + 5));
            fillBytePattern(src);
            oxtest::fillBytes(dst, 0xee);
            const QRect rect(2, 3, 8, 6);
            const QPoint at(4, -2); // partly outside: only the overlap is written
            ASSERT_EQ(CopyBuffer(src, rect, dst, at, false), eOk);
            const std::size_t s = GetImageTypeSize(type);
            for (int y = 0; y < dst.height; ++y)
                for (int x = 0; x < dst.width; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const int sx = x - at.x() + rect.x(), sy = y - at.y() + rect.y();
                        const bool inside = QRect(at, rect.size()).contains(x, y);
                        if (inside)
                            ASSERT_TRUE(componentEquals(dst, x, y, src, sx, sy, c)) << x << "," << y;
                        else
                            ASSERT_EQ(oxtest::pixelAddress(dst, x, y, c)[s - 1], 0xee) << x << "," << y;
                    }
            // Row padding is never written.
            const std::size_t used = packing == ePixel ? 9 * 3 * s : 9 * s;
            for (int y = 0; y < dst.height * (packing == ePlanar ? 3 : 1); ++y)
                for (int i = int(used); i < dst.rowBytes; ++i)
                    ASSERT_EQ(dst.data[y * dst.rowBytes + i], 0xee);
            FreeBuffer(src);
            FreeBuffer(dst);
        }
    }
}

TEST(CopyBuffer, LargeImagesCopyRowByRowOnSeveralThreads)
{
    SxImageBuf src = alloc(1031, 777, 1, eUInt16);
    SxImageBuf dst = alloc(1031, 777, 1, eUInt16, ePixel, 1031 * 2 + 2);
    oxtest::fill<quint16>(src, pattern);
    ASSERT_EQ(CopyBuffer(src, dst), eOk);
    for (int y = 0; y < 777; ++y)
        for (int x = 0; x < 1031; ++x)
            ASSERT_EQ(getPixel<quint16>(dst, x, y), quint16(pattern(x, y, 0)));
    FreeBuffer(src);
    FreeBuffer(dst);
}

TEST(CopyBuffer, MaskedCopyMapsChannelsAndHonoursTheMask)
{
    for (ExImageDataType type : {eUInt8, eUInt16}) {
        SCOPED_TRACE(type);
        SxImageBuf src = alloc(6, 5, 4, type);
        SxImageBuf dst = alloc(5, 4, 3, type);
        SxImageBuf mask = alloc(5, 4, 1, eUInt8);
        fillBytePattern(src);
        oxtest::fillBytes(dst, 0x11);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                setPixel<quint8>(mask, x, y, 0, quint8((x + y) % 2));
        const QRect rect(1, 1, 4, 3);
        const QPoint at(1, 0);
        ASSERT_EQ(CopyBuffer(src, rect, dst, at, mask, true), eOk);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                for (int c = 0; c < 3; ++c) {
                    const bool copied = QRect(at, rect.size()).contains(x, y) && (x + y) % 2;
                    if (copied) // the same physical channel on both sides; alpha is dropped
                        ASSERT_TRUE(componentEquals(dst, x, y, src, x - 1 + 1, y + 1, c));
                    else
                        ASSERT_EQ(oxtest::pixelAddress(dst, x, y, c)[0], 0x11);
                }
        SxImageBuf none, two = alloc(5, 4, 2, type), smallMask = alloc(4, 4, 1, eUInt8);
        EXPECT_EQ(CopyBuffer(none, rect, dst, at, mask, false), eErrInvalidArg1);
        EXPECT_EQ(CopyBuffer(src, QRect(3, 0, 4, 4), dst, at, mask, false), eErrInvalidArg2);
        EXPECT_EQ(CopyBuffer(src, rect, two, at, mask, false), eErrInvalidArg3);
        EXPECT_EQ(CopyBuffer(src, rect, dst, QPoint(2, 2), mask, false), eErrInvalidArg4);
        EXPECT_EQ(CopyBuffer(src, rect, dst, at, smallMask, false), eErrInvalidArg5);
        EXPECT_EQ(CopyBuffer(src, rect, dst, at, none, false), eErrInvalidArg5);
        for (SxImageBuf* b : {&src, &dst, &mask, &two, &smallMask})
            FreeBuffer(*b);
    }
    SxImageBuf f = alloc(4, 4, 1, eFloat), planarRgb = alloc(4, 4, 3, eUInt8, ePlanar),
               mask = alloc(4, 4, 1, eUInt8);
    EXPECT_EQ(CopyBuffer(f, QRect(0, 0, 1, 1), f, QPoint(), mask, false), eErrInvalidArg1);
    EXPECT_EQ(CopyBuffer(planarRgb, QRect(0, 0, 1, 1), planarRgb, QPoint(), mask, false), eErrInvalidArg1);
    for (SxImageBuf* b : {&f, &planarRgb, &mask})
        FreeBuffer(*b);
}

TEST(ShallowSubImage, SharesMemoryAndRefusesPlanarAndComplex)
{
    SxImageBuf src = alloc(10, 8, 3, eUInt16);
    src.userData = 5;
    SxImageBuf sub;
    ASSERT_EQ(ShallowSubImage(src, QRect(3, 2, 4, 5), sub), eOk);
    EXPECT_EQ(sub.data, oxtest::pixelAddress(src, 3, 2, 0));
    EXPECT_EQ(sub.width, 4);
    EXPECT_EQ(sub.height, 5);
    EXPECT_EQ(sub.rowBytes, src.rowBytes);
    EXPECT_EQ(sub.dataSize, src.dataSize);
    EXPECT_EQ(sub.userData, 5u);
    EXPECT_EQ(ShallowSubImage(src, QRect(8, 0, 3, 1), sub), eErrInvalidArg2);

    SxImageBuf planar = alloc(4, 4, 3, eUInt8, ePlanar);
    EXPECT_EQ(ShallowSubImage(planar, QRect(0, 0, 1, 1), sub), eErrInvalidArg1);
    SxImageBuf complex = alloc(4, 4, 1, eComplex);
    SxImageBuf csub;
    EXPECT_EQ(ShallowSubImage(complex, QRect(1, 1, 2, 2), csub), eErrUnsupported);
    EXPECT_EQ(csub.width, 2);
    EXPECT_EQ(csub.data, complex.data);
    for (SxImageBuf* b : {&src, &planar, &complex})
        FreeBuffer(*b);
}

TEST(CopyBuffer, SubImageEndingOnTheLastRowIsReadWithinItsParent)
{
    // The sub-image shares the parent's row size; its last row ends before the parent's memory
    // does, so a block copy must stop there (the sanitized run checks the reads).
    SxImageBuf parent = alloc(7, 3, 3, eUInt16, ePixel, 7 * 3 * 2);
    oxtest::fill<quint16>(parent, pattern);
    SxImageBuf sub;
    ASSERT_EQ(ShallowSubImage(parent, QRect(1, 1, 2, 2), sub), eOk);
    SxImageBuf copy;
    ASSERT_EQ(AllocAndCopyBuffer(sub, copy), eOk);
    EXPECT_EQ(copy.rowBytes, parent.rowBytes);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(getPixel<quint16>(copy, x, y, c), quint16(pattern(x + 1, y + 1, c)));
    FreeBuffer(copy);
    FreeBuffer(parent);
}

TEST(Crop, CutsInPlaceAndResetsTheLayout)
{
    CountingHooks hooks;
    SxImageBuf b = alloc(20, 10, 3, eUInt8, ePlanar, 70);
    b.bayerGrid = eRGGB;
    oxtest::fill<quint8>(b, pattern);
    EXPECT_EQ(Crop(b, QRect(0, 0, 20, 10)), eOk);
    EXPECT_EQ(b.bayerGrid, eRGGB);
    EXPECT_EQ(b.rowBytes, 70);
    EXPECT_EQ(Crop(b, QRect(15, 0, 6, 1)), eErrInvalidArg2);

    ASSERT_EQ(Crop(b, QRect(5, 3, 7, 4)), eOk);
    EXPECT_EQ(g_frees, 1);
    EXPECT_EQ(b.width, 7);
    EXPECT_EQ(b.height, 4);
    EXPECT_EQ(b.rowBytes, 32);
    EXPECT_EQ(b.bayerGrid, eNoBayer);
    EXPECT_EQ(b.colorOrder, 1);
    EXPECT_EQ(b.packing, ePlanar);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(getPixel<quint8>(b, x, y, c), quint8(pattern(x + 5, y + 3, c)));
    FreeBuffer(b);
    SxImageBuf none;
    EXPECT_EQ(Crop(none, QRect(0, 0, 1, 1)), eErrInvalidArg1);
}

TEST(ChannelIndexLogicalToPhysical, FollowsTheColourOrder)
{
    SxImageBuf b;
    b.dataType = eUInt8;
    b.channels = 3;
    b.colorOrder = 1;
    EXPECT_EQ(ChannelIndexLogicalToPhysical(0, b), 2);
    EXPECT_EQ(ChannelIndexLogicalToPhysical(1, b), 1);
    EXPECT_EQ(ChannelIndexLogicalToPhysical(2, b), 0);
    EXPECT_EQ(ChannelIndexLogicalToPhysical(3, b), 3);
    EXPECT_EQ(ChannelIndexLogicalToPhysical(4, b), -1);
    EXPECT_EQ(ChannelIndexLogicalToPhysical(-1, b), -1);
    b.colorOrder = 2;
    EXPECT_EQ(ChannelIndexLogicalToPhysical(0, b), 0);
    b.colorOrder = 0;
    b.channels = 1;
    EXPECT_EQ(ChannelIndexLogicalToPhysical(0, b), 0);
    EXPECT_EQ(ChannelIndexLogicalToPhysical(1, b), 1);
    b.channels = 3;
    b.packing = ePlanar;
    EXPECT_EQ(ChannelIndexLogicalToPhysical(0, b), 0);
    b.packing = ePixel;
    b.channels = 5;
    EXPECT_EQ(ChannelIndexLogicalToPhysical(0, b), 0);
    b.channels = 3;
    b.dataType = eUInt16;
    EXPECT_EQ(ChannelIndexLogicalToPhysical(0, b), 0);
    EXPECT_EQ(ChannelIndexLogicalToPhysical(7, b), 7);
    b.dataType = eUnknown;
    EXPECT_EQ(ChannelIndexLogicalToPhysical(0, b), -1);
}

TEST(CompressPixels, ValidatesWithoutWriting)
{
    SxImageBuf src = alloc(4, 4, 1, eUInt16), dst = alloc(4, 4, 1, eUInt16), f = alloc(4, 4, 1, eFloat);
    SxImageBuf none;
    EXPECT_EQ(CompressPixels(f, dst), eErrInvalidArg1);
    EXPECT_EQ(CompressPixels(src, none), eErrInvalidArg2);
    EXPECT_EQ(CompressPixels(src, dst), eErrInvalidArg2); // identical format
    dst.colorBitDepth = 12;
    EXPECT_EQ(CompressPixels(src, dst), eErrInvalidArg2); // uncompressed target
    dst.compression = eBitPacked;
    EXPECT_EQ(CompressPixels(src, dst), eOk);
    dst.colorBitDepth = 16;
    dst.width = 3;
    EXPECT_EQ(CompressPixels(src, dst), eErrInvalidArg2); // full depth
    for (SxImageBuf* b : {&src, &dst, &f})
        FreeBuffer(*b);
}

TEST(SxImageInfo, DataStreamFormSkipsTheRowSize)
{
    SxImageInfo in;
    in.width = 640;
    in.height = -2;
    in.rowBytes = 1920;
    in.channels = 3;
    in.colorBitDepth = 12;
    in.dataType = eUInt16;
    in.packing = ePlanar;
    in.colorOrder = 2;
    in.bayerGrid = eGRBG;
    in.compression = eBitPacked;
    in.mosaicWidth = 4;
    in.mosaicHeight = 5;
    QByteArray bytes;
    {
        QDataStream s(&bytes, QIODevice::WriteOnly);
        s << in;
    }
    ASSERT_EQ(bytes.size(), 44);
    // Qt's data streams are big-endian: the first integer is the width.
    EXPECT_EQ(bytes.left(4), QByteArray::fromHex("00000280"));
    EXPECT_EQ(bytes.mid(8, 4), QByteArray::fromHex("00000003")); // channels follow the height
    SxImageInfo out;
    out.rowBytes = 99;
    QDataStream s(bytes);
    s >> out;
    EXPECT_EQ(out.width, 640);
    EXPECT_EQ(out.height, -2);
    EXPECT_EQ(out.rowBytes, 0);
    EXPECT_EQ(out.channels, 3);
    EXPECT_EQ(out.colorBitDepth, 12);
    EXPECT_EQ(out.dataType, eUInt16);
    EXPECT_EQ(out.packing, ePlanar);
    EXPECT_EQ(out.colorOrder, 2);
    EXPECT_EQ(out.bayerGrid, eGRBG);
    EXPECT_EQ(out.compression, eBitPacked);
    EXPECT_EQ(out.mosaicWidth, 4);
    EXPECT_EQ(out.mosaicHeight, 5);
}
