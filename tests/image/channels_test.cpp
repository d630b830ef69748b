#include <ox/channels.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace ox;
using namespace oxtest;
using Image = oxtest::ScopedImage;

namespace {

// Where 8-bit interleaved images with colorOrder 1 keep logical channel c; other images keep it at c.
int physical(const SxImageBuf& b, int c)
{
    const bool bgr = componentSize(b.dataType) == 1 && b.packing == ePixel && b.channels > 1;
    return bgr && c < 3 ? 2 - c : c;
}

// True when physical channel `target` of b holds fillRaw's channel `from` and every other component is
// untouched (0xcd).
::testing::AssertionResult onlyChannelCopied(const SxImageBuf& b, int target, int from)
{
    return everyComponent(b, [&](int x, int y, int c) {
        return c == target ? holds(b, x, y, c, x, y, from) : bytesAre(b, x, y, c, 0xcd);
    });
}

} // namespace

TEST(CopyChannel, ChecksArgumentsInOrderAndWritesNothingOnError)
{
    Image rgb(6, 4, 3, eUInt8), mono(6, 4, 1, eUInt8), raw(6, 4, 1, eUInt8, ePixel, eRGGB),
        half(3, 2, 1, eUInt8), twoChannels(6, 4, 2, eUInt8), narrow(5, 4, 1, eUInt8), words(6, 4, 1, eUInt16),
        planar(6, 4, 1, eUInt8, ePlanar), cplx(2, 2, 2, eComplex), cplxOut(2, 2, 1, eComplex);
    SxImageBuf none;
    EXPECT_EQ(CopyChannel(none, 0, mono, 0), eErrInvalidArg1);
    EXPECT_EQ(CopyChannel(rgb, 3, none, 0), eErrInvalidArg2);
    EXPECT_EQ(CopyChannel(rgb, -1, none, 0), eErrInvalidArg2);
    EXPECT_EQ(CopyChannel(raw, 4, none, 0), eErrInvalidArg2);
    EXPECT_EQ(CopyChannel(twoChannels, 0, mono, 0), eErrInvalidArg2); // blue-first red lies outside
    EXPECT_EQ(CopyChannel(rgb, 0, none, 9), eErrInvalidArg3);
    for (SxImageBuf* bad : {&narrow, &words, &planar})
        EXPECT_EQ(CopyChannel(rgb, 0, *bad, 9), eErrInvalidArg3);
    EXPECT_EQ(CopyChannel(raw, 3, mono, 9), eErrInvalidArg3); // a mosaic needs half the size
    EXPECT_EQ(CopyChannel(rgb, 0, mono, 1), eErrInvalidArg4);
    EXPECT_EQ(CopyChannel(raw, 3, half, 1), eErrInvalidArg4);
    EXPECT_EQ(CopyChannel(rgb, 1, twoChannels, 0), eErrInvalidArg4);
    EXPECT_EQ(CopyChannel(changed(raw, [](auto& b) { b.bayerGrid = eMultispectral; }), 7, mono, 0),
              eErrUnsupported);
    EXPECT_EQ(CopyChannel(cplx, 1, cplxOut, 0), eErrUnsupported);
    EXPECT_TRUE(bytesAre(mono, 0, 0, 0, 0xcd) && bytesAre(half, 0, 0, 0, 0xcd));
}

TEST(CopyChannel, CopiesLogicalChannelsAndMosaicCellPositions)
{
    for (ExImageDataType type : kAllTypes) {
        if (type == eComplex)
            continue;
        SCOPED_TRACE(testing::Message() << "type " << type);
        Image rgb(37, 66, 3, type), rgba(37, 66, 4, type), planes(37, 66, 3, type, ePlanar),
            two(37, 66, 2, type, ePlanar), raw(2 * 37 + 1, 2 * 33, 1, type, ePixel, eRGGB);
        fillRaw(rgb);
        fillRaw(planes);
        fillRaw(raw);
        ASSERT_EQ(CopyChannel(rgb, 0, rgba, 2), eOk); // red into blue
        EXPECT_TRUE(onlyChannelCopied(rgba, physical(rgba, 2), physical(rgb, 0)));
        ASSERT_EQ(CopyChannel(planes, 2, two, 1), eOk);
        EXPECT_TRUE(onlyChannelCopied(two, 1, 2));
        // From an RGGB mosaic position 3 (bottom right) is blue, position 1 a green.
        for (int position : {3, 1}) {
            Image out(37, 33, 1, type);
            ASSERT_EQ(CopyChannel(raw, position, out, 0), eOk);
            EXPECT_TRUE(everyComponent(out, [&](int i, int j, int) {
                return holds(out, i, j, 0, 2 * i + position % 2, 2 * j + position / 2, 0);
            }));
            EXPECT_TRUE(paddingIs(out, 0xcd));
        }
    }
}

TEST(CopyChannelPlanarToPixel, FillsOneChannelOfEveryPixelForEveryType)
{
    Image planes(5, 3, 3, eUInt8, ePlanar), rgba(5, 3, 4, eUInt8), wide(6, 3, 4, eUInt8),
        words(5, 3, 4, eUInt16), planarOut(5, 3, 4, eUInt8, ePlanar);
    SxImageBuf none;
    EXPECT_EQ(CopyChannelPlanarToPixel(none, 0, rgba, 0), eErrInvalidArg1);
    EXPECT_EQ(CopyChannelPlanarToPixel(rgba, 0, rgba, 0), eErrInvalidArg1);
    EXPECT_EQ(CopyChannelPlanarToPixel(planes, 3, none, 0), eErrInvalidArg2);
    for (SxImageBuf* bad : Buffers{&wide, &words, &planarOut, &none})
        EXPECT_EQ(CopyChannelPlanarToPixel(planes, 0, *bad, 0), eErrInvalidArg3);
    EXPECT_EQ(CopyChannelPlanarToPixel(planes, 0, rgba, 4), eErrInvalidArg4);
    EXPECT_EQ(rgba.data[0], 0xcd);

    for (ExImageDataType type : kAllTypes) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        Image src(29, 70, 3, type, ePlanar), dst(29, 70, 4, type);
        fillRaw(src);
        ASSERT_EQ(CopyChannelPlanarToPixel(src, 1, dst, 0), eOk);
        EXPECT_TRUE(onlyChannelCopied(dst, physical(dst, 0), 1));
    }
}

TEST(SetChannel, StoresTheLowBytesOfTheValueWhereTheMaskAllows)
{
    Image rgb(4, 3, 3, eUInt16), mask(4, 3, 1, eUInt8), small(4, 2, 1, eUInt8), words(4, 3, 1, eUInt16),
        pair(4, 3, 2, eUInt8), cplx(2, 2, 1, eComplex);
    SxImageBuf none;
    EXPECT_EQ(SetChannel(none, 0, 1), eErrInvalidArg1);
    EXPECT_EQ(SetChannel(none, 0, mask, 1), eErrInvalidArg1);
    EXPECT_EQ(SetChannel(rgb, 3, 1), eErrInvalidArg2);
    EXPECT_EQ(SetChannel(rgb, -1, none, 1), eErrInvalidArg2);
    for (SxImageBuf* bad : Buffers{&small, &words, &pair, &none})
        EXPECT_EQ(SetChannel(rgb, 0, *bad, 1), eErrInvalidArg3);
    EXPECT_EQ(rgb.data[0], 0xcd);
    EXPECT_EQ(SetChannel(cplx, 0, 1), eErrUnsupported);
    EXPECT_EQ(SetChannel(changed(rgb, [](auto& b) { b.packing = ExPixelPacking(2); }), 0, 1),
              eErrUnsupported);

    const unsigned long long value = 0x1122334455667788ull;
    for (ExImageDataType type : kAllTypes)
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (int channels : {3, 4})
                for (bool masked : {false, true}) {
                    if (type == eComplex)
                        continue;
                    SCOPED_TRACE(testing::Message() << "type " << type << " packing " << packing
                                                    << " channels " << channels << " mask " << masked);
                    Image img(31, 67, channels, type, packing), m(31, 67, 1, eUInt8);
                    fillRaw(img);
                    fill<std::uint8_t>(m, [](int x, int y, int) { return (x + y) % 3 == 0 ? 0 : x + 1; });
                    const int channel = channels - 3; // red, or alpha (opaque)
                    ASSERT_EQ(masked ? SetChannel(img, channel, m, value) : SetChannel(img, channel, value),
                              eOk);
                    const int target = physical(img, channel);
                    EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                        if (c != target || (masked && (x + y) % 3 == 0))
                            return holds(img, x, y, c, x, y, c);
                        for (std::size_t k = 0; k < componentSize(type); ++k) // little-endian low bytes
                            if (pixelAddress(img, x, y, c)[k] != std::uint8_t(value >> (8 * k)))
                                return false;
                        return true;
                    }));
                }
}

TEST(SwapChannels, ExchangesPhysicalComponentsAndRestoresWhenRepeated)
{
    Image rgb(4, 3, 3, eUInt8), planes(4, 3, 3, eUInt8, ePlanar), cplx(2, 2, 2, eComplex);
    SxImageBuf none;
    EXPECT_EQ(SwapChannels(none, 0, 1), eErrInvalidArg1);
    EXPECT_EQ(SwapChannels(planes, 0, 1), eErrInvalidArg1);
    EXPECT_EQ(SwapChannels(rgb, 3, 9), eErrInvalidArg2);
    EXPECT_EQ(SwapChannels(rgb, 0, -1), eErrInvalidArg3);
    EXPECT_EQ(rgb.data[0], 0xcd);
    EXPECT_EQ(SwapChannels(cplx, 0, 1), eErrUnsupported);

    for (ExImageDataType type : kAllTypes)
        for (int channels : {2, 3, 4, 5}) {
            if (type == eComplex)
                continue;
            SCOPED_TRACE(testing::Message() << "type " << type << " channels " << channels);
            Image img(33, 65, channels, type);
            fillRaw(img);
            const int last = channels - 1;
            ASSERT_EQ(SwapChannels(img, 0, last), eOk); // physical positions, also for 8-bit colour
            EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                return holds(img, x, y, c, x, y, c == 0 ? last : c == last ? 0 : c);
            }));
            ASSERT_EQ(SwapChannels(img, 0, last), eOk);
            EXPECT_TRUE(
                everyComponent(img, [&](int x, int y, int c) { return holds(img, x, y, c, x, y, c); }));
        }
}

TEST(Invert, ComplementsUnsignedComponentsOfAllOrOneChannel)
{
    SxImageBuf none;
    Image word(1, 1, 1, eUInt16), signedWords(2, 2, 1, eInt16);
    EXPECT_EQ(Invert(none), eErrInvalidArg1);
    EXPECT_EQ(InvertChannel(none, 0), eErrInvalidArg1);
    EXPECT_EQ(InvertChannel(word, 1), eErrInvalidArg2);
    EXPECT_EQ(Invert(signedWords), eErrUnsupported);
    EXPECT_EQ(InvertChannel(signedWords, 0), eErrUnsupported);
    EXPECT_EQ(Invert(changed(word, [](auto& b) { b.packing = ExPixelPacking(2); })), eErrUnsupported);
    word.colorBitDepth = 12; // the complement covers the whole word all the same
    setPixel<std::uint16_t>(word, 0, 0, 0, 0x000f);
    ASSERT_EQ(Invert(word), eOk);
    EXPECT_EQ(getPixel<std::uint16_t>(word, 0, 0), 0xfff0);

    for (ExImageDataType type : kAllTypes)
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (int channel : {-1, 0, 2}) { // -1: the whole image
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " packing " << packing << " channel " << channel);
                Image img(35, 66, 3, type, packing);
                fillRaw(img);
                const bool handled = type == eUInt8 || type == eUInt16 || type == eUInt32 || type == eUInt64;
                ASSERT_EQ(channel < 0 ? Invert(img) : InvertChannel(img, channel),
                          handled ? eOk : eErrUnsupported);
                const int target = channel < 0 ? -1 : physical(img, channel);
                EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                    return holds(img, x, y, c, x, y, c, handled && (target < 0 || c == target) ? 0xff : 0);
                }));
                EXPECT_TRUE(paddingIs(img, 0xcd));
            }
}
