#include <ox/imagebuf.h>
#include <ox/memory.h>

#include "support/image_helpers.h"
#include "support/message_capture.h"

#include <QBuffer>
#include <QDataStream>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <tuple>

using namespace ox;
using namespace oxtest;
using Image = oxtest::ScopedImage;

namespace {

std::atomic<int> g_allocs{0}, g_frees{0}, g_hookCopies{0};

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

// Installs counting hooks for one test and restores the defaults afterwards.
struct CountingHooks
{
    CountingHooks()
    {
        g_allocs = g_frees = g_hookCopies = 0;
        SetMemoryFuncPtrs(countingMalloc, countingFree, countingCopy);
    }
    ~CountingHooks() { SetDefaultMemoryFuncPtr(); }
};

// Every format field, for comparing whole formats at once.
auto format(const SxImageInfo& i)
{
    return std::make_tuple(i.width, i.height, i.rowBytes, i.channels, i.colorBitDepth, i.dataType, i.packing,
                           i.colorOrder, i.bayerGrid, i.compression, i.mosaicWidth, i.mosaicHeight);
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
    EXPECT_EQ(AllocBuffer(b, 5, 1, 3, eUInt16, 22, 12, ePixel, false, eBitPacked), eErrInvalidArg6);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.width, 0);
}

TEST(AllocBuffer, ChoosesRowSizesAndDepthsAndZeroesTheMemory)
{
    struct Case // the size expected is for height 3
    {
        int width, channels;
        ExImageDataType type;
        ExPixelPacking packing;
        int rowBytes, depth;
        ExPixelCompression compression;
        int expectedRow, expectedDepth;
        quint64 expectedSize;
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
        {5, 3, eUInt16, ePixel, 30, 16, eBitPacked, 30, 16, 90}, // at full depth: the plain layout
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
        EXPECT_EQ(std::make_tuple(b.rowBytes, b.colorBitDepth, b.dataSize, b.memoryTag),
                  std::make_tuple(c.expectedRow, c.expectedDepth, c.expectedSize, quint64(0)));
        // Fields the allocation does not own are left alone.
        EXPECT_TRUE(b.colorOrder == 7 && b.bayerGrid == eGRBG && b.userData == 42u);
        for (quint64 i = 0; i < b.dataSize; ++i)
            ASSERT_EQ(b.data[i], 0) << "byte " << i << " not zeroed";
        FreeBuffer(b);
    }
}

TEST(AllocBuffer, UsesTheHooksTagsTheMemoryAndCopiesTheFormatOfAnInfo)
{
    CountingHooks hooks;
    SxImageBuf b;
    ASSERT_EQ(AllocBuffer(b, 8, 8, 1, eUInt8, 0, 0, ePixel, false, eUncompressed), eOk);
    EXPECT_EQ(g_allocs, 1);
    EXPECT_EQ(b.memoryTag, quint64(reinterpret_cast<quintptr>(&countingMalloc)));
    EXPECT_EQ(b.deleter, &countingFree);
    SetDefaultMemoryFuncPtr(); // the buffer keeps its release hook even after the hooks change
    FreeBuffer(b);
    EXPECT_EQ(g_frees, 1);
    EXPECT_TRUE(b.data == nullptr && b.dataSize == 0u);

    SxImageInfo info{7, 5, 0, 3, 0, eUInt16, ePixel, 2, eGBRG, eUncompressed, 4, 2};
    QList<SxImageBuf> bufs{SxImageBuf(), SxImageBuf()}, empty;
    ASSERT_EQ(AllocBuffer(info, bufs, false), eOk);
    for (const SxImageBuf& b : bufs)
        EXPECT_EQ(format(b),
                  format(SxImageInfo{7, 5, 64, 3, 16, eUInt16, ePixel, 2, eGBRG, eUncompressed, 4, 2}));
    FreeBuffer(bufs);
    EXPECT_EQ(bufs.size(), 2);
    EXPECT_EQ(bufs[1].data, nullptr);
    EXPECT_EQ(AllocBuffer(info, empty, false), eOk);

    // Out of memory: data stays null and the descriptor keeps its other fields; an info's Bayer grid and
    // colour order are copied whatever the outcome.
    SetMemoryFuncPtrs([](quint64) -> void* { return nullptr; }, countingFree, countingCopy);
    SxImageBuf c;
    c.width = 5;
    EXPECT_EQ(AllocBuffer(c, 8, 8, 1, eUInt8, 0, 0, ePixel, false, eUncompressed), eErrOutOfMemory);
    EXPECT_TRUE(c.data == nullptr && c.width == 5);
    info.bayerGrid = eRGGB;
    info.colorOrder = 3;
    EXPECT_EQ(AllocBuffer(info, c, false), eErrFailed);
    EXPECT_TRUE(c.bayerGrid == eRGGB && c.colorOrder == 3);
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
    EXPECT_EQ(format(b), format(SxImageInfo{0, 0, 0, 0, 0, eUnknown, ePixel, 0, eNoBayer, eBitPacked, 3, 4}));
    EXPECT_TRUE(b.memoryTag == tag && b.deleter == &countingFree && b.userData == 9u);
}

TEST(GetImageTypeSize, CoversEveryType)
{
    const quint64 expected[] = {0, 1, 1, 2, 2, 4, 4, 4, 8, 16, 8, 8, 0};
    for (int t = -1; t < 13; ++t)
        EXPECT_EQ(GetImageTypeSize(ExImageDataType(t)), t < 0 ? 0 : expected[t]) << t;
}

TEST(CopyBuffer, WholeImageChecksAndBlockOrRowCopies)
{
    Image src(10, 6, 3, eUInt8, ePixel, eNoBayer, 2), dst(10, 6, 3, eUInt8, ePixel, eNoBayer, 2),
        wrong(10, 6, 1, eUInt8);
    SxImageBuf none;
    EXPECT_EQ(CopyBuffer(none, dst), eErrInvalidArg1);
    EXPECT_EQ(CopyBuffer(src, none), eErrInvalidArg2);
    EXPECT_EQ(CopyBuffer(src, wrong), eErrInvalidArg2);
    fillRaw(src);
    {
        // Different memory tags route every copy through the copy hook, which counts them.
        CountingHooks hooks;
        Image padded(10, 6, 3, eUInt8, ePixel, eNoBayer, 15), same(10, 6, 3, eUInt8, ePixel, eNoBayer, 2);
        EXPECT_EQ(CopyBuffer(src, padded), eOk);
        EXPECT_EQ(g_hookCopies, 6); // row sizes differ: one copy per row
        EXPECT_EQ(CopyBuffer(src, same), eOk);
        EXPECT_EQ(g_hookCopies, 7); // equal sizes: one block
        for (const Image* b : {&padded, &same})
            EXPECT_TRUE(everyComponent(*b, [&](int x, int y, int c) { return holds(*b, x, y, c, x, y, c); }));
        EXPECT_TRUE(paddingIs(padded, 0xcd));
    }
    // Without a copy hook, memory of another kind cannot be reached: the copy fails and says so.
    MessageCapture capture;
    EXPECT_EQ(CopyBuffer(src, changed(dst, [](auto& b) { b.memoryTag = 1234; })), eErrFailed);
    EXPECT_EQ(capture.lines(), QStringList{MessageCapture::error("Failed to copy the image buffer.")});

    // Large images with different row sizes copy row by row on several threads.
    Image large(1031, 777, 1, eUInt16, ePixel, eNoBayer, 0),
        largeDst(1031, 777, 1, eUInt16, ePixel, eNoBayer, 2);
    fillRaw(large);
    ASSERT_EQ(CopyBuffer(large, largeDst), eOk);
    EXPECT_TRUE(
        everyComponent(largeDst, [&](int x, int y, int c) { return holds(largeDst, x, y, c, x, y, c); }));
    EXPECT_TRUE(paddingIs(largeDst, 0xcd));
}

TEST(CopyBuffer, RegionChecksInOrderAndCopiesEveryTypeClippedToTheTarget)
{
    Image src8(8, 8, 3, eUInt8), dst4(4, 4, 3, eUInt8), mono(4, 4, 1, eUInt8),
        planar(4, 4, 3, eUInt8, ePlanar), big64(4, 4, 1, eInt64), dst64(4, 4, 1, eInt64);
    SxImageBuf none;
    EXPECT_EQ(CopyBuffer(none, QRect(9, 9, 9, 9), none, QPoint(), true), eErrInvalidArg1);
    EXPECT_EQ(CopyBuffer(src8, QRect(5, 5, 4, 4), none, QPoint(), true), eErrInvalidArg2);
    EXPECT_EQ(CopyBuffer(src8, QRect(-1, 0, 2, 2), dst4, QPoint(), true), eErrInvalidArg2);
    for (SxImageBuf* bad : Buffers{&none, &mono, &planar})
        EXPECT_EQ(CopyBuffer(src8, QRect(0, 0, 4, 4), *bad, QPoint(9, 9), true), eErrInvalidArg3);
    EXPECT_EQ(CopyBuffer(src8, QRect(0, 0, 4, 4), dst4, QPoint(1, 0), true), eErrInvalidArg4);
    EXPECT_EQ(CopyBuffer(src8, QRect(0, 0, 4, 4), dst4, QPoint(1, 0), false), eOk);
    EXPECT_EQ(CopyBuffer(big64, QRect(0, 0, 2, 2), dst64, QPoint(), true), eErrUnsupported);

    for (ExImageDataType type : kAllTypes)
        for (ExPixelPacking packing : {ePixel, ePlanar}) {
            if (type == eInt64 || type == eUInt64)
                continue;
            SCOPED_TRACE(testing::Message() << "type " << type << " packing " << packing);
            Image src(13, 11, 3, type, packing), dst(9, 7, 3, type, packing, eNoBayer, 5); // odd, padded rows
            fillRaw(src);
            const QRect rect(2, 3, 8, 6);
            const QPoint at(4, -2); // partly outside: only the overlap is written
            ASSERT_EQ(CopyBuffer(src, rect, dst, at, false), eOk);
            EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) {
                return QRect(at, rect.size()).contains(x, y)
                           ? holds(dst, x, y, c, x - at.x() + rect.x(), y - at.y() + rect.y(), c)
                           : bytesAre(dst, x, y, c, 0xcd);
            }));
            EXPECT_TRUE(paddingIs(dst, 0xcd));
        }
}

TEST(CopyBuffer, MaskedCopyMapsChannelsAndHonoursTheMask)
{
    for (ExImageDataType type : {eUInt8, eUInt16}) {
        SCOPED_TRACE(type);
        Image src(6, 5, 4, type), dst(5, 4, 3, type), mask(5, 4, 1, eUInt8), two(5, 4, 2, type),
            smallMask(4, 4, 1, eUInt8);
        fillRaw(src);
        fill<quint8>(mask, [](int x, int y, int) { return (x + y) % 2; });
        const QRect rect(1, 1, 4, 3);
        const QPoint at(1, 0);
        ASSERT_EQ(CopyBuffer(src, rect, dst, at, mask, true), eOk);
        EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) { // the same physical channel; alpha dropped
            return QRect(at, rect.size()).contains(x, y) && (x + y) % 2 ? holds(dst, x, y, c, x, y + 1, c)
                                                                        : bytesAre(dst, x, y, c, 0xcd);
        }));
        SxImageBuf none;
        EXPECT_EQ(CopyBuffer(none, rect, dst, at, mask, false), eErrInvalidArg1);
        EXPECT_EQ(CopyBuffer(src, QRect(3, 0, 4, 4), dst, at, mask, false), eErrInvalidArg2);
        EXPECT_EQ(CopyBuffer(src, rect, two, at, mask, false), eErrInvalidArg3);
        EXPECT_EQ(CopyBuffer(src, rect, dst, QPoint(2, 2), mask, false), eErrInvalidArg4);
        for (SxImageBuf* bad : Buffers{&smallMask, &none})
            EXPECT_EQ(CopyBuffer(src, rect, dst, at, *bad, false), eErrInvalidArg5);
    }
    Image f(4, 4, 1, eFloat), planarRgb(4, 4, 3, eUInt8, ePlanar), mask(4, 4, 1, eUInt8);
    for (SxImageBuf* bad : {&f, &planarRgb})
        EXPECT_EQ(CopyBuffer(*bad, QRect(0, 0, 1, 1), *bad, QPoint(), mask, false), eErrInvalidArg1);
}

TEST(ShallowSubImage, SharesMemoryAndBlockCopiesStayWithinTheParent)
{
    Image src(10, 8, 3, eUInt16), planar(4, 4, 3, eUInt8, ePlanar), complex(4, 4, 1, eComplex);
    src.userData = 5;
    SxImageBuf sub, csub;
    ASSERT_EQ(ShallowSubImage(src, QRect(3, 2, 4, 5), sub), eOk);
    EXPECT_EQ(sub.data, pixelAddress(src, 3, 2, 0));
    EXPECT_EQ(std::make_tuple(sub.width, sub.height, sub.rowBytes, sub.dataSize, sub.userData),
              std::make_tuple(4, 5, src.rowBytes, src.dataSize, quint64(5)));
    EXPECT_EQ(ShallowSubImage(src, QRect(8, 0, 3, 1), sub), eErrInvalidArg2);
    EXPECT_EQ(ShallowSubImage(planar, QRect(0, 0, 1, 1), sub), eErrInvalidArg1);
    EXPECT_EQ(ShallowSubImage(complex, QRect(1, 1, 2, 2), csub), eErrUnsupported);
    EXPECT_TRUE(csub.width == 2 && csub.data == complex.data);

    // A sub-image ending on the parent's last row, rows unpadded: its last row ends before the
    // parent's memory does, so a block copy must stop there (the sanitized run checks the reads).
    Image parent(7, 3, 3, eUInt16, ePixel, eNoBayer, 0);
    fillRaw(parent);
    ASSERT_EQ(ShallowSubImage(parent, QRect(1, 1, 2, 2), sub), eOk);
    SxImageBuf copy;
    ASSERT_EQ(AllocAndCopyBuffer(sub, copy), eOk);
    EXPECT_EQ(copy.rowBytes, parent.rowBytes);
    EXPECT_TRUE(
        everyComponent(copy, [&](int x, int y, int c) { return holds(copy, x, y, c, x + 1, y + 1, c); }));
    FreeBuffer(copy);
}

TEST(Crop, CutsInPlaceAndResetsTheLayout)
{
    CountingHooks hooks;
    SxImageBuf b, none;
    ASSERT_EQ(AllocBuffer(b, 20, 10, 3, eUInt8, 70, 0, ePlanar, false, eUncompressed), eOk);
    b.bayerGrid = eRGGB;
    fillRaw(b);
    EXPECT_EQ(Crop(none, QRect(0, 0, 1, 1)), eErrInvalidArg1);
    EXPECT_EQ(Crop(b, QRect(15, 0, 6, 1)), eErrInvalidArg2);
    EXPECT_EQ(Crop(b, QRect(0, 0, 20, 10)), eOk); // the whole image: untouched
    EXPECT_TRUE(b.bayerGrid == eRGGB && b.rowBytes == 70 && g_allocs == 1);

    ASSERT_EQ(Crop(b, QRect(5, 3, 7, 4)), eOk);
    EXPECT_EQ(g_frees, 1);
    EXPECT_EQ(format(b),
              format(SxImageInfo{7, 4, 32, 3, 8, eUInt8, ePlanar, 1, eNoBayer, eUncompressed, 0, 0}));
    EXPECT_TRUE(everyComponent(b, [&](int x, int y, int c) { return holds(b, x, y, c, x + 5, y + 3, c); }));
    FreeBuffer(b);
}

TEST(ChannelIndexLogicalToPhysical, FollowsTheColourOrder)
{
    // {type, channels, packing, colorOrder, logical index, physical index}
    const std::tuple<ExImageDataType, int, ExPixelPacking, int, int, int> cases[] = {
        {eUInt8, 3, ePixel, 1, 0, 2},  {eUInt8, 3, ePixel, 1, 1, 1},   {eUInt8, 3, ePixel, 1, 2, 0},
        {eUInt8, 3, ePixel, 1, 3, 3},  {eUInt8, 3, ePixel, 1, 4, -1},  {eUInt8, 3, ePixel, 1, -1, -1},
        {eUInt8, 3, ePixel, 2, 0, 0},  {eUInt8, 1, ePixel, 0, 0, 0},   {eUInt8, 1, ePixel, 0, 1, 1},
        {eUInt8, 3, ePlanar, 0, 0, 0}, {eUInt8, 5, ePixel, 0, 0, 0},   {eUInt16, 3, ePixel, 0, 0, 0},
        {eUInt16, 3, ePixel, 0, 7, 7}, {eUnknown, 3, ePixel, 0, 0, -1}};
    for (const auto& [type, channels, packing, order, logical, physical] : cases) {
        SxImageBuf b;
        b.dataType = type;
        b.channels = channels;
        b.packing = packing;
        b.colorOrder = order;
        EXPECT_EQ(ChannelIndexLogicalToPhysical(logical, b), physical)
            << type << " " << channels << " " << packing << " " << order << " " << logical;
    }
}

TEST(CompressPixels, ValidatesWithoutWriting)
{
    Image src(4, 4, 1, eUInt16), dst(4, 4, 1, eUInt16), f(4, 4, 1, eFloat);
    SxImageBuf none;
    EXPECT_EQ(CompressPixels(f, dst), eErrInvalidArg1);
    EXPECT_EQ(CompressPixels(src, none), eErrInvalidArg2);
    EXPECT_EQ(CompressPixels(src, dst), eErrInvalidArg2); // identical format
    dst.colorBitDepth = 12;
    EXPECT_EQ(CompressPixels(src, dst), eErrInvalidArg2); // uncompressed target
    dst.compression = eBitPacked;
    EXPECT_EQ(CompressPixels(src, dst), eOk);
    EXPECT_TRUE(bytesAre(dst, 0, 0, 0, 0xcd));
    dst.colorBitDepth = 16;
    dst.width = 3;
    EXPECT_EQ(CompressPixels(src, dst), eErrInvalidArg2); // full depth
}

TEST(SxImageInfo, DataStreamFormSkipsTheRowSize)
{
    const SxImageInfo in{640, -2, 1920, 3, 12, eUInt16, ePlanar, 2, eGRBG, eBitPacked, 4, 5};
    QByteArray bytes;
    QDataStream writer(&bytes, QIODevice::WriteOnly);
    writer << in;
    ASSERT_EQ(bytes.size(), 44);
    // Qt's data streams are big-endian: the first integer is the width.
    EXPECT_EQ(bytes.left(4), QByteArray::fromHex("00000280"));
    EXPECT_EQ(bytes.mid(8, 4), QByteArray::fromHex("00000003")); // channels follow the height
    SxImageInfo out;
    out.rowBytes = 99;
    QDataStream reader(bytes);
    reader >> out;
    EXPECT_EQ(format(out),
              format(SxImageInfo{640, -2, 0, 3, 12, eUInt16, ePlanar, 2, eGRBG, eBitPacked, 4, 5}));
}
