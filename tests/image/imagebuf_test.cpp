#include <ox/imagebuf.h>
#include <ox/memory.h>

#include "support/core_helpers.h"
#include "support/image_helpers.h"
#include "support/message_capture.h"

#include <QDataStream>

#include <atomic>
#include <climits>
#include <tuple>

using namespace ox;
using namespace oxtest;

namespace {

// Counts copies through the copy hook; rows are copied on several threads.
std::atomic<int> g_copies{0};
bool countingCopy(void* dst, const void* src, quint64 size, quint64, quint64)
{
    ++g_copies;
    return std::memcpy(dst, src, size), true;
}

// Installs counting memory hooks for one test and restores the defaults afterwards.
struct CountingHooks
{
    CountingHooks()
    {
        hooks = SxHookLog(), g_copies = 0, SetMemoryFuncPtrs(CountingMalloc, CountingFree, countingCopy);
    }
    ~CountingHooks() { SetDefaultMemoryFuncPtr(); }
};

// Every format field, for comparing whole formats at once.
auto format(const SxImageInfo& i)
{
    return std::make_tuple(i.width, i.height, i.rowBytes, i.channels, i.colorBitDepth, i.dataType, i.packing,
                           i.colorOrder, i.bayerGrid, i.compression, i.mosaicWidth, i.mosaicHeight);
}

// True when every component of b holds what fillRaw wrote `dx`, `dy` further on, same channel.
::testing::AssertionResult copiedFrom(const SxImageBuf& b, int dx, int dy)
{
    return holdsFrom(b, [&](int x, int y, int c) { return std::array{x + dx, y + dy, c}; });
}

} // namespace

TEST(ImageBuf, EveryOperationChecksItsArgumentsInOrderAndWritesNothingOnError)
{
    SxImageBuf b, none, sub;
    const auto alloc = [&](int w, int h, int c, ExImageDataType t, int row, int depth, int packing,
                           ExPixelCompression k) {
        return AllocBuffer(b, w, h, c, t, row, depth, ExPixelPacking(packing), false, k);
    };
    Image src(8, 8, 3, eUInt8), dst(4, 4, 3, eUInt8), mono(4, 4, 1, eUInt8), planar(4, 4, 3, eUInt8, ePlanar),
        two(4, 4, 2, eUInt8), mask(4, 4, 1, eUInt8), smallMask(3, 4, 1, eUInt8), i64(4, 4, 1, eInt64),
        f(4, 4, 1, eFloat), cplx(4, 4, 1, eComplex), words(4, 4, 1, eUInt16), packed(4, 4, 1, eUInt16);
    const Snapshot snapshot(
        {&src, &dst, &mono, &planar, &two, &mask, &smallMask, &i64, &f, &cplx, &words, &packed});
    const QRect all(0, 0, 4, 4);
    const auto depth12 = [](SxImageBuf& p) { p.colorBitDepth = 12; };
    const auto bitPacked = [](SxImageBuf& p) { p.compression = eBitPacked; };
    expectCodes(eErrInvalidArg1, {alloc(0, 0, 0, eUInt8, 0, 0, 0, eUncompressed), CopyBuffer(none, dst),
                                  CopyBuffer(none, QRect(9, 9, 9, 9), none, QPoint(), true),
                                  CopyBuffer(none, all, dst, QPoint(), mask, false),
                                  CopyBuffer(f, all, f, QPoint(), mask, false),
                                  CopyBuffer(planar, all, planar, QPoint(), mask, false),
                                  ShallowSubImage(planar, QRect(0, 0, 1, 1), sub),
                                  Crop(none, QRect(0, 0, 1, 1)), CompressPixels(f, packed)});
    expectCodes(eErrInvalidArg2,
                {alloc(1, 0, 0, eUInt8, 0, 0, 0, eUncompressed), CopyBuffer(src, none), CopyBuffer(src, dst),
                 CopyBuffer(dst, mono), CopyBuffer(src, QRect(5, 5, 4, 4), none, QPoint(), true),
                 CopyBuffer(src, QRect(-1, 0, 2, 2), dst, QPoint(), true),
                 CopyBuffer(src, QRect(6, 0, 4, 4), dst, QPoint(), mask, false),
                 ShallowSubImage(src, QRect(6, 0, 3, 1), sub), Crop(dst, QRect(3, 0, 2, 1)),
                 CompressPixels(words, none), CompressPixels(words, packed), // identical format
                 CompressPixels(words, Changed(packed, depth12)),            // uncompressed
                 CompressPixels(words, Changed(packed, bitPacked))});        // full depth
    expectCodes(eErrInvalidArg3, {alloc(1, 1, 0, eUInt8, 0, 0, 0, eUncompressed),
                                  CopyBuffer(src, all, none, QPoint(9, 9), true),
                                  CopyBuffer(src, all, mono, QPoint(9, 9), true),
                                  CopyBuffer(src, all, planar, QPoint(9, 9), true),
                                  CopyBuffer(src, all, two, QPoint(), mask, false)});
    expectCodes(eErrInvalidArg4, {alloc(1, 1, 1, eUnknown, 0, 0, 0, eUncompressed),
                                  CopyBuffer(src, all, dst, QPoint(1, 0), true),
                                  CopyBuffer(src, all, dst, QPoint(1, 1), mask, false)});
    expectCodes(eErrInvalidArg5, {CopyBuffer(src, all, dst, QPoint(), smallMask, false),
                                  CopyBuffer(src, all, dst, QPoint(), none, false)});
    // A positive row size below the minimum (22.5 bytes of 12-bit triples round up to 23), then
    // depths above the component and packings other than the two.
    expectCodes(eErrInvalidArg6, {alloc(100, 1, 3, eUInt8, 299, 0, 0, eUncompressed),
                                  alloc(5, 1, 3, eUInt16, 22, 12, 0, eBitPacked)});
    expectCodes(eErrInvalidArg7, {alloc(1, 1, 1, eUInt16, -1, 17, 2, eUncompressed)});
    expectCodes(eErrInvalidArg8, {alloc(100, 1, 3, eUInt8, 299, 0, 2, eUncompressed)});
    expectCodes(eErrUnsupported, {CopyBuffer(i64, QRect(0, 0, 2, 2), i64, QPoint(), true)});
    // A valid request to bit-pack: packing is not implemented, so nothing is written.
    EXPECT_EQ(CompressPixels(words, Changed(packed, [&](auto& p) { depth12(p), bitPacked(p); })), eOk);
    // Rows the pixel operations cannot walk: bit-packed, or shorter than their pixels. Compressions
    // other than the two, and rows whose byte count would leave 64 bits, are not allocated.
    const SxImageBuf shortRows = Changed(src, [](auto& p) { p.rowBytes = 23; });
    expectCodes(eErrInvalidArg1, {CopyBuffer(shortRows, src), CopyBuffer(shortRows, all, dst, QPoint(), true),
                                  Crop(Changed(words, [&](auto& p) { depth12(p), bitPacked(p); }), all)});
    expectCodes(eErrInvalidArg2,
                {CopyBuffer(words, Changed(packed, [&](auto& p) { depth12(p), bitPacked(p); }))});
    expectCodes(eErrInvalidArg4, {CopyBuffer(src, all, dst, QPoint(INT_MAX - 1, INT_MAX - 2), true)});
    expectCodes(eErrUnsupported, {alloc(4, 4, 1, eUInt16, 0, 12, 0, ExPixelCompression(2))});
    expectCodes(eErrOutOfMemory, {alloc(1 << 30, 1, 1 << 30, eComplex, 0, 0, 0, eUncompressed),
                                  alloc(INT_MAX, 1, INT_MAX / 2, eDouble, 0, 0, 0, eUncompressed)});
    EXPECT_TRUE(snapshot.unchanged());
    EXPECT_TRUE(b.data == nullptr && b.width == 0);
    EXPECT_EQ(ShallowSubImage(cplx, QRect(1, 1, 2, 2), sub), eErrUnsupported); // the descriptor is made
    EXPECT_TRUE(sub.width == 2 && sub.data == cplx.data);
}

TEST(AllocBuffer, ChoosesRowSizesAndDepthsZeroesTheMemoryAndKnowsEveryTypeSize)
{
    for (int t = -1; t < 13; ++t)
        EXPECT_EQ(GetImageTypeSize(ExImageDataType(t)), componentSize(ExImageDataType(t))) << t;
    // {width, channels, type, packing, rowBytes, depth, compression, expected row, depth, size at height 3}
    const std::tuple<int, int, ExImageDataType, ExPixelPacking, int, int, ExPixelCompression, int, int, int>
        cases[] = {{100, 3, eUInt8, ePixel, 0, 0, eUncompressed, 320, 8, 960},
                   {100, 3, eUInt8, ePlanar, 0, 0, eUncompressed, 128, 8, 128 * 3 * 3},
                   {10, 1, eUInt16, ePixel, 0, 12, eUncompressed, 32, 12, 96},
                   {4, 1, eUInt64, ePixel, 33, 0, eUncompressed, 33, 64, 99},
                   {2, 1, eComplex, ePixel, 0, 0, eUncompressed, 32, 128, 96},
                   // 12 bits in 16-bit words, 3 channels, width 5: 22.5 bytes round up to 23.
                   {5, 3, eUInt16, ePixel, 23, 12, eBitPacked, 23, 12, 69},
                   {5, 3, eUInt16, ePixel, 0, 12, eBitPacked, 32, 12, 96},
                   {5, 3, eUInt16, ePixel, 30, 16, eBitPacked, 30, 16, 90}}; // full depth: plain layout
    for (const auto& [width, channels, type, packing, row, depth, compression, wantRow, wantDepth, size] :
         cases) {
        SCOPED_TRACE(testing::Message() << "width " << width << " type " << type << " row " << row);
        SxImageBuf b;
        b.colorOrder = 7;
        b.bayerGrid = eGRBG;
        b.userData = 42;
        ASSERT_EQ(AllocBuffer(b, width, 3, channels, type, row, depth, packing, true, compression), eOk);
        EXPECT_EQ(std::make_tuple(b.rowBytes, b.colorBitDepth, b.dataSize, b.memoryTag),
                  std::make_tuple(wantRow, wantDepth, quint64(size), quint64(0)));
        // Fields the allocation does not own are left alone.
        EXPECT_TRUE(b.colorOrder == 7 && b.bayerGrid == eGRBG && b.userData == 42u);
        EXPECT_TRUE(std::all_of(b.data, b.data + b.dataSize, [](quint8 v) { return v == 0; }));
        FreeBuffer(b);
    }
}

TEST(AllocBuffer, UsesTheHooksCopiesAnInfosFormatAndFreeBufferResetsTheFormatOnce)
{
    CountingHooks counting;
    SxImageBuf b, c;
    b.mosaicWidth = 3;
    b.userData = 9;
    ASSERT_EQ(AllocBuffer(b, 4, 4, 3, eUInt16, 0, 12, ePlanar, false, eBitPacked), eOk);
    EXPECT_TRUE(hooks.mallocs == 1 && b.memoryTag == quint64(reinterpret_cast<quintptr>(&CountingMalloc)) &&
                b.deleter == &CountingFree);
    b.bayerGrid = eBGGR;
    SetDefaultMemoryFuncPtr(); // the buffer keeps its release hook even after the hooks change
    FreeBuffer(b);
    FreeBuffer(b);
    EXPECT_EQ(hooks.frees, 1);
    EXPECT_EQ(format(b), format(SxImageInfo{0, 0, 0, 0, 0, eUnknown, ePixel, 0, eNoBayer, eBitPacked, 3, 0}));
    EXPECT_TRUE(b.data == nullptr && b.dataSize == 0u && b.deleter == &CountingFree && b.userData == 9u);

    // From a format, for every element of a list: colour order, layout and cell size included.
    SxImageInfo info{7, 5, 0, 3, 0, eUInt16, ePixel, 2, eGBRG, eUncompressed, 4, 2};
    QList<SxImageBuf> bufs{SxImageBuf(), SxImageBuf()};
    ASSERT_EQ(AllocBuffer(info, bufs, false), eOk);
    EXPECT_EQ(format(bufs[1]),
              format(SxImageInfo{7, 5, 64, 3, 16, eUInt16, ePixel, 2, eGBRG, eUncompressed, 4, 2}));
    FreeBuffer(bufs);
    EXPECT_TRUE(bufs.size() == 2 && bufs[0].data == nullptr && bufs[1].data == nullptr);

    // Out of memory: data stays null and the other fields are kept, an info's layout and colour order
    // are copied all the same, and a list reports the failure.
    SetMemoryFuncPtrs(CountingMalloc, CountingFree, countingCopy);
    hooks.failMalloc = true;
    c.width = 5;
    EXPECT_EQ(AllocBuffer(c, 8, 8, 1, eUInt8, 0, 0, ePixel, false, eUncompressed), eErrOutOfMemory);
    EXPECT_TRUE(c.data == nullptr && c.width == 5);
    info.bayerGrid = eRGGB, info.colorOrder = 3;
    EXPECT_EQ(AllocBuffer(info, c, false), eErrFailed);
    EXPECT_TRUE(c.bayerGrid == eRGGB && c.colorOrder == 3);
    EXPECT_EQ(AllocBuffer(info, bufs, false), eErrFailed);
}

TEST(CopyBuffer, WholeImageCopiesByBlockOrRowThroughTheCopyHook)
{
    Image src(10, 6, 3, eUInt8, ePixel, eNoBayer, 2), dst(10, 6, 3, eUInt8, ePixel, eNoBayer, 2);
    fillRaw(src);
    {
        // Different memory tags route every copy through the copy hook, which counts them.
        CountingHooks counting;
        Image padded(10, 6, 3, eUInt8, ePixel, eNoBayer, 15), same(10, 6, 3, eUInt8, ePixel, eNoBayer, 2);
        EXPECT_EQ(CopyBuffer(src, padded), eOk);
        EXPECT_EQ(g_copies, 6); // row sizes differ: one copy per row
        EXPECT_EQ(CopyBuffer(src, same), eOk);
        EXPECT_EQ(g_copies, 7); // equal sizes: one block
        EXPECT_TRUE(copiedFrom(padded, 0, 0) && copiedFrom(same, 0, 0) && paddingIs(padded, 0xcd));
    }
    // Without a copy hook, memory of another kind cannot be reached: the copy fails and says so.
    MessageCapture capture;
    EXPECT_EQ(CopyBuffer(src, Changed(dst, [](auto& b) { b.memoryTag = 1234; })), eErrFailed);
    EXPECT_EQ(capture.lines(), QStringList{MessageCapture::error("Failed to copy the image buffer.")});

    // Bit-packed rows are copied as they are into a buffer packed alike: 12-bit triples, 23 of 32 bytes.
    SxImageBuf packed, twin;
    ASSERT_EQ(AllocBuffer(packed, 5, 3, 3, eUInt16, 0, 12, ePixel, false, eBitPacked), eOk);
    std::memset(packed.data, 0x5a, packed.dataSize);
    ASSERT_EQ(AllocAndCopyBuffer(packed, twin), eOk);
    for (int y = 0; y < 3; ++y)
        EXPECT_TRUE(std::equal(packed.data + 32 * y, packed.data + 32 * y + 23, twin.data + 32 * y)) << y;
    FreeBuffer(packed), FreeBuffer(twin);

    // Large images with different row sizes copy row by row on several threads.
    Image large(1031, 777, 1, eUInt16, ePixel, eNoBayer, 0),
        largeDst(1031, 777, 1, eUInt16, ePixel, eNoBayer, 2);
    fillRaw(large);
    ASSERT_EQ(CopyBuffer(large, largeDst), eOk);
    EXPECT_TRUE(copiedFrom(largeDst, 0, 0) && paddingIs(largeDst, 0xcd));
}

TEST(CopyBuffer, RegionsOfEveryTypeAreClippedToTheTargetAndMasksChooseThePixels)
{
    for (ExImageDataType type : kAllTypes)
        for (ExPixelPacking packing : {ePixel, ePlanar}) {
            if (type == eInt64 || type == eUInt64)
                continue;
            SCOPED_TRACE(testing::Message() << "type " << type << " packing " << packing);
            Image src(13, 11, 3, type, packing), dst(9, 7, 3, type, packing, eNoBayer, 5); // odd, padded rows
            fillRaw(src);
            // Rectangle (2, 3, 8, 6) at (4, -2), partly outside: only the overlap is written.
            ASSERT_EQ(CopyBuffer(src, QRect(2, 3, 8, 6), dst, QPoint(4, -2), false), eOk);
            EXPECT_TRUE(holdsFrom(dst, [](int x, int y, int c) {
                return std::array{x < 4 || y > 3 ? -1 : x - 2, y + 5, c};
            }));
            EXPECT_TRUE(paddingIs(dst, 0xcd));
            // Within one image, down and to the right: each source row is read before it is overwritten.
            ASSERT_EQ(CopyBuffer(src, QRect(2, 1, 8, 6), src, QPoint(4, 3), true), eOk);
            EXPECT_TRUE(holdsFrom(src, [](int x, int y, int c) {
                const bool moved = x >= 4 && x < 12 && y >= 3 && y < 9;
                return std::array{moved ? x - 2 : x, moved ? y - 2 : y, c};
            }));
            // Into a view of the same memory with rows twice as far apart.
            fillRaw(src);
            SxImageBuf wide = Changed(src, [](SxImageBuf& b) { b.rowBytes *= 2, b.height = 5; });
            ASSERT_EQ(CopyBuffer(src, QRect(0, 0, 13, 5), wide, QPoint(), true), eOk);
            EXPECT_TRUE(holdsFrom(wide, [](int x, int y, int c) { return std::array{x, y, c}; }));
        }
    for (ExImageDataType type : {eUInt8, eUInt16}) {
        Image src(6, 5, 4, type), dst(5, 4, 3, type), mask(5, 4, 1, eUInt8);
        fillRaw(src);
        fill<quint8>(mask, [](int x, int y, int) { return (x + y) % 2; });
        // Rectangle (1, 1, 4, 3) at (1, 0) where the mask is set: the same physical channels, alpha dropped.
        ASSERT_EQ(CopyBuffer(src, QRect(1, 1, 4, 3), dst, QPoint(1, 0), mask, true), eOk);
        EXPECT_TRUE(holdsFrom(dst, [](int x, int y, int c) {
            return std::array{x > 0 && y < 3 && (x + y) % 2 ? x : -1, y + 1, c};
        })) << type;
    }
}

TEST(ShallowSubImageAndCrop, ShareTheParentsMemoryOrCutInPlace)
{
    CountingHooks counting;
    Image src(10, 8, 3, eUInt16);
    src.userData = 5;
    SxImageBuf sub, copy, b;
    ASSERT_EQ(ShallowSubImage(src, QRect(3, 2, 4, 5), sub), eOk);
    EXPECT_EQ(sub.data, pixelAddress(src, 3, 2, 0));
    EXPECT_EQ(std::make_tuple(sub.width, sub.height, sub.rowBytes, sub.dataSize, sub.userData),
              std::make_tuple(4, 5, src.rowBytes, src.dataSize, quint64(5)));
    // A sub-image ending on the parent's last row, rows unpadded: its last row ends before the
    // parent's memory does, so a block copy must stop there (the sanitized run checks the reads).
    Image parent(7, 3, 3, eUInt16, ePixel, eNoBayer, 0);
    fillRaw(parent);
    ASSERT_EQ(ShallowSubImage(parent, QRect(1, 1, 2, 2), sub), eOk);
    ASSERT_EQ(AllocAndCopyBuffer(sub, copy), eOk);
    EXPECT_TRUE(copy.rowBytes == parent.rowBytes && copiedFrom(copy, 1, 1));
    FreeBuffer(copy);

    // Crop: the whole image leaves the buffer untouched; a part gets new memory and layout.
    ASSERT_EQ(AllocBuffer(b, 20, 10, 3, eUInt8, 70, 0, ePlanar, false, eUncompressed), eOk);
    b.bayerGrid = eRGGB;
    fillRaw(b);
    hooks = SxHookLog();
    EXPECT_EQ(Crop(b, QRect(0, 0, 20, 10)), eOk);
    EXPECT_TRUE(b.bayerGrid == eRGGB && b.rowBytes == 70 && hooks.mallocs == 0);
    ASSERT_EQ(Crop(b, QRect(5, 3, 7, 4)), eOk);
    EXPECT_EQ(hooks.mallocs * 10 + hooks.frees, 11);
    EXPECT_EQ(format(b),
              format(SxImageInfo{7, 4, 32, 3, 8, eUInt8, ePlanar, 1, eNoBayer, eUncompressed, 0, 0}));
    EXPECT_TRUE(copiedFrom(b, 5, 3));
    FreeBuffer(b);
}

TEST(ChannelIndexLogicalToPhysical, SwapsRedAndBlueOfBlueFirstImagesOnly)
{
    // The places of logical channels -1 ... 4.
    const auto places = [](ExImageDataType type, int channels, ExPixelPacking packing, int order) {
        SxImageBuf b;
        b.dataType = type, b.channels = channels, b.packing = packing, b.colorOrder = order;
        QList<int> out;
        for (int logical = -1; logical < 5; ++logical)
            out << ChannelIndexLogicalToPhysical(logical, b);
        return out;
    };
    // Blue first: 8-bit, interleaved, two to four channels, colour order 0 or 1.
    EXPECT_EQ(places(eUInt8, 4, ePixel, 1), QList<int>({-1, 2, 1, 0, 3, -1}));
    EXPECT_EQ(places(eInt8, 2, ePixel, 0), QList<int>({-1, 2, 1, 0, 3, -1}));
    EXPECT_EQ(places(eUInt8, 1, ePixel, 1).mid(0, 2), QList<int>({-1, 0})); // a single channel stays
    for (auto [type, channels, packing, order] : {std::tuple{eUInt8, 3, ePixel, 2},
                                                  {eUInt8, 5, ePixel, 1},
                                                  {eUInt8, 3, ePlanar, 1},
                                                  {eUInt16, 3, ePixel, 0}})
        EXPECT_EQ(places(type, channels, packing, order), QList<int>({-1, 0, 1, 2, 3, 4}))
            << type << channels;
    EXPECT_EQ(places(eUnknown, 3, ePixel, 2), QList<int>({-1, -1, -1, -1, -1, -1}));
}

TEST(SxImageInfo, DataStreamFormSkipsTheRowSize)
{
    const SxImageInfo in{640, -2, 1920, 3, 12, eUInt16, ePlanar, 2, eGRBG, eBitPacked, 4, 5};
    QByteArray bytes;
    QDataStream writer(&bytes, QIODevice::WriteOnly);
    writer << in;
    // Eleven big-endian integers: the width first, the channels after the height.
    EXPECT_EQ(bytes.toHex(), QByteArray("00000280fffffffe000000030000000c00000004000000010000000200000003"
                                        "000000010000000400000005"));
    SxImageInfo out;
    out.rowBytes = 99;
    QDataStream reader(bytes);
    reader >> out;
    EXPECT_EQ(format(out),
              format(SxImageInfo{640, -2, 0, 3, 12, eUInt16, ePlanar, 2, eGRBG, eBitPacked, 4, 5}));
}
