#include <ox/channels.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace ox;
using oxtest::getPixel;
using oxtest::pixelAddress;

namespace {

// An allocated buffer, released at the end of the scope; rows padded by 40 bytes.
struct Image : SxImageBuf
{
    Image(int w, int h, int c, ExImageDataType t, ExPixelPacking p = ePixel, ExBayerGrid g = eNoBayer)
    {
        const int row = w * (p == ePlanar ? 1 : c) * int(oxtest::componentSize(t));
        EXPECT_EQ(AllocBuffer(*this, w, h, c, t, row + 40, 0, p, true, eUncompressed), eOk);
        bayerGrid = g;
        oxtest::fillBytes(*this, 0xcd);
    }
    ~Image() { FreeBuffer(*this); }
};

const ExImageDataType kAllTypes[] = {eInt8,  eUInt8,  eInt16,   eUInt16, eInt32, eUInt32,
                                     eFloat, eDouble, eComplex, eInt64,  eUInt64};

std::uint8_t byteOf(int x, int y, int c, int k)
{
    return std::uint8_t((oxtest::pattern(x, y, c) * 0x9e3779b1u) >> 11 ^ k * 0x3b);
}

void fillRaw(SxImageBuf& b)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                for (std::size_t k = 0; k < oxtest::componentSize(b.dataType); ++k)
                    pixelAddress(b, x, y, c)[k] = byteOf(x, y, c, int(k));
}

// True when component (x, y, c) of b holds the bytes fillRaw wrote at (sx, sy, sc), xor `flip`.
bool holds(const SxImageBuf& b, int x, int y, int c, int sx, int sy, int sc, std::uint8_t flip = 0)
{
    for (std::size_t k = 0; k < oxtest::componentSize(b.dataType); ++k)
        if (pixelAddress(b, x, y, c)[k] != (byteOf(sx, sy, sc, int(k)) ^ flip))
            return false;
    return true;
}

// True when every byte of component (x, y, c) is `v`.
bool bytesAre(const SxImageBuf& b, int x, int y, int c, std::uint8_t v)
{
    for (std::size_t k = 0; k < oxtest::componentSize(b.dataType); ++k)
        if (pixelAddress(b, x, y, c)[k] != v)
            return false;
    return true;
}

// Where 8-bit interleaved images with colorOrder 1 keep logical channel c; other images keep it at c.
int physical(const SxImageBuf& b, int c)
{
    const bool bgr = oxtest::componentSize(b.dataType) == 1 && b.packing == ePixel && b.channels > 1;
    return bgr && c < 3 ? 2 - c : c;
}

} // namespace

TEST(CopyChannel, ChecksArgumentsInOrderAndWritesNothingOnError)
{
    Image rgb(6, 4, 3, eUInt8), mono(6, 4, 1, eUInt8), raw(6, 4, 1, eUInt8, ePixel, eRGGB),
        half(3, 2, 1, eUInt8);
    SxImageBuf none;
    EXPECT_EQ(CopyChannel(none, 0, mono, 0), eErrInvalidArg1);
    EXPECT_EQ(CopyChannel(rgb, 3, none, 0), eErrInvalidArg2);
    EXPECT_EQ(CopyChannel(rgb, -1, none, 0), eErrInvalidArg2);
    EXPECT_EQ(CopyChannel(raw, 4, none, 0), eErrInvalidArg2);
    Image twoChannels(6, 4, 2, eUInt8); // logical red of a blue-first pair would lie outside the pixel
    EXPECT_EQ(CopyChannel(twoChannels, 0, mono, 0), eErrInvalidArg2);
    EXPECT_EQ(CopyChannel(rgb, 0, none, 9), eErrInvalidArg3);
    Image narrow(5, 4, 1, eUInt8), words(6, 4, 1, eUInt16), planar(6, 4, 1, eUInt8, ePlanar);
    for (SxImageBuf* bad : {&narrow, &words, &planar})
        EXPECT_EQ(CopyChannel(rgb, 0, *bad, 9), eErrInvalidArg3);
    EXPECT_EQ(CopyChannel(raw, 3, mono, 9), eErrInvalidArg3); // a mosaic needs half the size
    EXPECT_EQ(CopyChannel(rgb, 0, mono, 1), eErrInvalidArg4);
    EXPECT_EQ(CopyChannel(raw, 3, half, 1), eErrInvalidArg4);
    Image twoOut(6, 4, 2, eUInt8);
    EXPECT_EQ(CopyChannel(rgb, 1, twoOut, 0), eErrInvalidArg4);
    raw.bayerGrid = eMultispectral;
    EXPECT_EQ(CopyChannel(raw, 7, mono, 0), eErrUnsupported);
    EXPECT_EQ(mono.data[0], 0xcd);
    EXPECT_EQ(half.data[0], 0xcd);
    Image cplx(2, 2, 2, eComplex), cplxOut(2, 2, 1, eComplex);
    EXPECT_EQ(CopyChannel(cplx, 1, cplxOut, 0), eErrUnsupported);
}

TEST(CopyChannel, CopiesLogicalChannelsAndMosaicCellPositions)
{
    for (ExImageDataType type : kAllTypes) {
        if (type == eComplex)
            continue;
        SCOPED_TRACE(testing::Message() << "type " << type);
        Image rgb(37, 66, 3, type), rgba(37, 66, 4, type);
        fillRaw(rgb);
        ASSERT_EQ(CopyChannel(rgb, 0, rgba, 2), eOk); // red into blue
        for (int y = 0; y < 66; ++y)
            for (int x = 0; x < 37; ++x)
                for (int c = 0; c < 4; ++c) {
                    if (c == physical(rgba, 2))
                        ASSERT_TRUE(holds(rgba, x, y, c, x, y, physical(rgb, 0))) << x << "," << y;
                    else
                        ASSERT_TRUE(bytesAre(rgba, x, y, c, 0xcd)) << x << "," << y << " channel " << c;
                }

        Image planes(37, 66, 3, type, ePlanar), two(37, 66, 2, type, ePlanar);
        fillRaw(planes);
        ASSERT_EQ(CopyChannel(planes, 2, two, 1), eOk);
        for (int y = 0; y < 66; ++y)
            for (int x = 0; x < 37; ++x) {
                ASSERT_TRUE(holds(two, x, y, 1, x, y, 2));
                ASSERT_TRUE(bytesAre(two, x, y, 0, 0xcd));
            }

        // From an RGGB mosaic position 3 (bottom right) is blue, position 1 a green.
        Image raw(2 * 37 + 1, 2 * 33, 1, type, ePixel, eRGGB);
        fillRaw(raw);
        for (int position : {3, 1}) {
            Image out(37, 33, 1, type);
            ASSERT_EQ(CopyChannel(raw, position, out, 0), eOk);
            for (int j = 0; j < 33; ++j)
                for (int i = 0; i < 37; ++i)
                    ASSERT_TRUE(holds(out, i, j, 0, 2 * i + position % 2, 2 * j + position / 2, 0));
            ASSERT_EQ(out.data[out.rowBytes - 1], 0xcd);
        }
    }
}

TEST(CopyChannelPlanarToPixel, FillsOneChannelOfEveryPixelForEveryType)
{
    Image planes(5, 3, 3, eUInt8, ePlanar), rgba(5, 3, 4, eUInt8);
    SxImageBuf none, interleaved = rgba;
    EXPECT_EQ(CopyChannelPlanarToPixel(none, 0, rgba, 0), eErrInvalidArg1);
    EXPECT_EQ(CopyChannelPlanarToPixel(interleaved, 0, rgba, 0), eErrInvalidArg1);
    EXPECT_EQ(CopyChannelPlanarToPixel(planes, 3, none, 0), eErrInvalidArg2);
    Image wide(6, 3, 4, eUInt8), words(5, 3, 4, eUInt16), planarOut(5, 3, 4, eUInt8, ePlanar);
    for (SxImageBuf* bad : {&wide, &words, &planarOut, static_cast<Image*>(nullptr)})
        EXPECT_EQ(CopyChannelPlanarToPixel(planes, 0, bad ? *bad : none, 0), eErrInvalidArg3);
    EXPECT_EQ(CopyChannelPlanarToPixel(planes, 0, rgba, 4), eErrInvalidArg4);
    EXPECT_EQ(rgba.data[0], 0xcd);

    for (ExImageDataType type : kAllTypes) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        Image src(29, 70, 3, type, ePlanar), dst(29, 70, 4, type);
        fillRaw(src);
        ASSERT_EQ(CopyChannelPlanarToPixel(src, 1, dst, 0), eOk);
        for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 29; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_TRUE(c == physical(dst, 0) ? holds(dst, x, y, c, x, y, 1)
                                                      : bytesAre(dst, x, y, c, 0xcd));
    }
}

TEST(SetChannel, StoresTheLowBytesOfTheValueWhereTheMaskAllows)
{
    Image rgb(4, 3, 3, eUInt16), mask(4, 3, 1, eUInt8);
    SxImageBuf none;
    EXPECT_EQ(SetChannel(none, 0, 1), eErrInvalidArg1);
    EXPECT_EQ(SetChannel(none, 0, mask, 1), eErrInvalidArg1);
    EXPECT_EQ(SetChannel(rgb, 3, 1), eErrInvalidArg2);
    EXPECT_EQ(SetChannel(rgb, -1, none, 1), eErrInvalidArg2);
    Image small(4, 2, 1, eUInt8), words(4, 3, 1, eUInt16), pair(4, 3, 2, eUInt8);
    for (SxImageBuf* bad : {&small, &words, &pair, static_cast<Image*>(nullptr)})
        EXPECT_EQ(SetChannel(rgb, 0, bad ? *bad : none, 1), eErrInvalidArg3);
    EXPECT_EQ(rgb.data[0], 0xcd);
    Image cplx(2, 2, 1, eComplex);
    EXPECT_EQ(SetChannel(cplx, 0, 1), eErrUnsupported);
    rgb.packing = ExPixelPacking(2);
    EXPECT_EQ(SetChannel(rgb, 0, 1), eErrUnsupported);

    Image rgba(3, 2, 4, eUInt8);
    ASSERT_EQ(SetChannel(rgba, 3, 255), eOk); // opaque
    EXPECT_EQ(getPixel<std::uint8_t>(rgba, 2, 1, 3), 255);
    EXPECT_EQ(getPixel<std::uint8_t>(rgba, 2, 1, 2), 0xcd);

    const unsigned long long value = 0x1122334455667788ull;
    for (ExImageDataType type : kAllTypes)
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (bool masked : {false, true}) {
                if (type == eComplex)
                    continue;
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " packing " << packing << " mask " << masked);
                Image img(31, 67, 3, type, packing), m(31, 67, 1, eUInt8);
                fillRaw(img);
                oxtest::fill<std::uint8_t>(m, [](int x, int y, int) { return (x + y) % 3 == 0 ? 0 : x + 1; });
                ASSERT_EQ(masked ? SetChannel(img, 0, m, value) : SetChannel(img, 0, value), eOk);
                const int target = physical(img, 0);
                for (int y = 0; y < 67; ++y)
                    for (int x = 0; x < 31; ++x)
                        for (int c = 0; c < 3; ++c) {
                            if (c != target || (masked && (x + y) % 3 == 0)) {
                                ASSERT_TRUE(holds(img, x, y, c, x, y, c))
                                    << x << "," << y << " channel " << c;
                                continue;
                            }
                            for (std::size_t k = 0; k < oxtest::componentSize(type);
                                 ++k) // little-endian low bytes
                                ASSERT_EQ(pixelAddress(img, x, y, c)[k], std::uint8_t(value >> (8 * k)));
                        }
            }
}

TEST(SwapChannels, ExchangesPhysicalComponentsAndRestoresWhenRepeated)
{
    Image rgb(4, 3, 3, eUInt8), planes(4, 3, 3, eUInt8, ePlanar);
    SxImageBuf none;
    EXPECT_EQ(SwapChannels(none, 0, 1), eErrInvalidArg1);
    EXPECT_EQ(SwapChannels(planes, 0, 1), eErrInvalidArg1);
    EXPECT_EQ(SwapChannels(rgb, 3, 9), eErrInvalidArg2);
    EXPECT_EQ(SwapChannels(rgb, 0, -1), eErrInvalidArg3);
    EXPECT_EQ(rgb.data[0], 0xcd);
    Image cplx(2, 2, 2, eComplex);
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
            for (int y = 0; y < 65; ++y)
                for (int x = 0; x < 33; ++x)
                    for (int c = 0; c < channels; ++c)
                        ASSERT_TRUE(holds(img, x, y, c, x, y, c == 0 ? last : c == last ? 0 : c));
            ASSERT_EQ(SwapChannels(img, 0, last), eOk);
            for (int y = 0; y < 65; ++y)
                for (int x = 0; x < 33; ++x)
                    for (int c = 0; c < channels; ++c)
                        ASSERT_TRUE(holds(img, x, y, c, x, y, c));
        }
}

TEST(Invert, ComplementsUnsignedComponentsOfAllOrOneChannel)
{
    SxImageBuf none;
    EXPECT_EQ(Invert(none), eErrInvalidArg1);
    EXPECT_EQ(InvertChannel(none, 0), eErrInvalidArg1);
    Image word(1, 1, 1, eUInt16), signedWords(2, 2, 1, eInt16);
    word.colorBitDepth = 12; // the complement covers the whole word all the same
    oxtest::setPixel<std::uint16_t>(word, 0, 0, 0, 0x000f);
    ASSERT_EQ(Invert(word), eOk);
    EXPECT_EQ(getPixel<std::uint16_t>(word, 0, 0), 0xfff0);
    EXPECT_EQ(Invert(signedWords), eErrUnsupported);
    EXPECT_EQ(InvertChannel(signedWords, 0), eErrUnsupported);
    EXPECT_EQ(InvertChannel(word, 1), eErrInvalidArg2);
    word.packing = ExPixelPacking(2);
    EXPECT_EQ(Invert(word), eErrUnsupported);

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
                for (int y = 0; y < 66; ++y)
                    for (int x = 0; x < 35; ++x)
                        for (int c = 0; c < 3; ++c) {
                            const bool inverted = handled && (target < 0 || c == target);
                            ASSERT_TRUE(holds(img, x, y, c, x, y, c, inverted ? 0xff : 0)) << x << "," << y;
                        }
                ASSERT_EQ(img.data[img.rowBytes - 1], 0xcd);
            }
}
