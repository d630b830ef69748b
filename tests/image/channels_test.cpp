#include <ox/channels.h>

#include "support/image_helpers.h"

using namespace ox;
using namespace oxtest;

namespace {

// True when physical channel `target` of b holds fillRaw's channel `from` and the others are untouched.
::testing::AssertionResult onlyChannelCopied(const SxImageBuf& b, int target, int from)
{
    return holdsFrom(b, [&](int x, int y, int c) { return std::array{c == target ? x : -1, y, from}; });
}

} // namespace

TEST(Channels, EveryOperationChecksItsArgumentsInOrderAndWritesNothingOnError)
{
    Image rgb(6, 4, 3, eUInt8), mono(6, 4, 1, eUInt8), raw(6, 4, 1, eUInt8, ePixel, eRGGB),
        half(3, 2, 1, eUInt8), two(6, 4, 2, eUInt8), narrow(5, 4, 1, eUInt8), words(6, 4, 1, eUInt16),
        planarMono(6, 4, 1, eUInt8, ePlanar), planes(6, 4, 3, eUInt8, ePlanar), rgba(6, 4, 4, eUInt8),
        wide(7, 4, 4, eUInt8), words4(6, 4, 4, eUInt16), planarRgba(6, 4, 4, eUInt8, ePlanar),
        shortMask(6, 3, 1, eUInt8), signedWords(2, 2, 1, eInt16), cplx(2, 2, 2, eComplex),
        cplxOut(2, 2, 1, eComplex);
    const Snapshot snapshot({&rgb, &mono, &raw, &half, &two, &narrow, &words, &planarMono, &planes, &rgba,
                             &wide, &words4, &planarRgba, &shortMask, &signedWords, &cplx, &cplxOut});
    SxImageBuf none;
    const auto other = [](SxImageBuf& b) { b.packing = ExPixelPacking(2); };
    expectCodes(eErrInvalidArg1, {CopyChannel(none, 0, mono, 0), CopyChannelPlanarToPixel(none, 0, rgba, 0),
                                  CopyChannelPlanarToPixel(rgba, 0, rgba, 0), SetChannel(none, 0, 1),
                                  SetChannel(none, 0, mono, 1), SwapChannels(none, 0, 1),
                                  SwapChannels(planes, 0, 1), Invert(none), InvertChannel(none, 0)});
    // A blue-first two-channel image has no red: its place lies outside the pixel.
    expectCodes(eErrInvalidArg2,
                {CopyChannel(rgb, 3, none, 0), CopyChannel(rgb, -1, none, 0), CopyChannel(raw, 4, none, 0),
                 CopyChannel(two, 0, mono, 0), CopyChannelPlanarToPixel(planes, 3, none, 0),
                 SetChannel(rgb, 3, 1), SetChannel(rgb, -1, none, 1), SwapChannels(rgb, 3, 9),
                 InvertChannel(words, 1)});
    // From a mosaic the destination has half the size.
    expectCodes(eErrInvalidArg3,
                {CopyChannel(rgb, 0, none, 9), CopyChannel(rgb, 0, narrow, 9), CopyChannel(rgb, 0, words, 9),
                 CopyChannel(rgb, 0, planarMono, 9), CopyChannel(raw, 3, mono, 9),
                 CopyChannelPlanarToPixel(planes, 0, wide, 0), CopyChannelPlanarToPixel(planes, 0, words4, 0),
                 CopyChannelPlanarToPixel(planes, 0, planarRgba, 0),
                 CopyChannelPlanarToPixel(planes, 0, none, 0), SetChannel(rgb, 0, shortMask, 1),
                 SetChannel(rgb, 0, words, 1), SetChannel(rgb, 0, two, 1), SetChannel(rgb, 0, none, 1),
                 SwapChannels(rgb, 0, -1)});
    expectCodes(eErrInvalidArg4, {CopyChannel(rgb, 0, mono, 1), CopyChannel(raw, 3, half, 1),
                                  CopyChannel(rgb, 1, two, 0), CopyChannelPlanarToPixel(planes, 0, rgba, 4)});
    expectCodes(eErrUnsupported,
                {CopyChannel(Changed(raw, [](auto& b) { b.bayerGrid = eMultispectral; }), 7, mono, 0),
                 CopyChannel(cplx, 1, cplxOut, 0), SetChannel(cplx, 0, 1),
                 SetChannel(Changed(rgb, other), 0, 1), SwapChannels(cplx, 0, 1), Invert(signedWords),
                 InvertChannel(signedWords, 0), Invert(Changed(words, other))});
    EXPECT_TRUE(snapshot.unchanged());
}

TEST(CopyChannel, CopiesLogicalChannelsPlanesAndMosaicCellPositionsOfEveryType)
{
    for (ExImageDataType type : kAllTypes) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        Image rgb(37, 66, 3, type), rgba(37, 66, 4, type), planes(37, 66, 3, type, ePlanar),
            two(37, 66, 2, type, ePlanar), raw(2 * 37 + 1, 2 * 33, 1, type, ePixel, eRGGB),
            out(37, 66, 4, type);
        fillRaw(rgb);
        fillRaw(planes);
        fillRaw(raw);
        ASSERT_EQ(CopyChannelPlanarToPixel(planes, 1, out, 0), eOk);
        EXPECT_TRUE(onlyChannelCopied(out, physicalChannel(out, 0), 1));
        if (type == eComplex)
            continue;
        ASSERT_EQ(CopyChannel(rgb, 0, rgba, 2), eOk); // red into blue
        EXPECT_TRUE(onlyChannelCopied(rgba, physicalChannel(rgba, 2), physicalChannel(rgb, 0)));
        ASSERT_EQ(CopyChannel(planes, 2, two, 1), eOk);
        EXPECT_TRUE(onlyChannelCopied(two, 1, 2));
        for (int position : {3, 1}) { // in an RGGB cell: blue, and the top green
            Image cell(37, 33, 1, type);
            ASSERT_EQ(CopyChannel(raw, position, cell, 0), eOk);
            EXPECT_TRUE(holdsFrom(cell, [&](int i, int j, int) {
                return std::array{2 * i + position % 2, 2 * j + position / 2, 0};
            }));
            EXPECT_TRUE(paddingIs(cell, 0xcd));
        }
    }
}

TEST(Channels, SetSwapAndInvertEditEveryTypeAndLayoutInPlace)
{
    const unsigned long long value = 0x1122334455667788ull; // stored little-endian: low bytes first
    for (ExImageDataType type : kAllTypes)
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (int channels : {2, 3, 4, 5}) {
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " packing " << packing << " channels " << channels);
                Image img(31, 67, channels, type, packing), mask(31, 67, 1, eUInt8);
                img.colorBitDepth = 3; // the complement covers whole components all the same
                fill<std::uint8_t>(mask, [](int x, int y, int) { return (x + y) % 3 == 0 ? 0 : x + 1; });
                const bool real = type != eComplex,
                           inverted = type == eUInt8 || type == eUInt16 || type == eUInt32 || type == eUInt64;
                const int last = channels - 1, target = physicalChannel(img, last); // blue of RGB images
                // Set: the value's low-order bytes (little-endian), where the mask allows.
                for (bool masked : {false, true}) {
                    fillRaw(img);
                    ASSERT_EQ(masked ? SetChannel(img, last, mask, value) : SetChannel(img, last, value),
                              real ? eOk : eErrUnsupported);
                    EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                        if (!real || c != target || (masked && (x + y) % 3 == 0))
                            return holds(img, x, y, c, x, y, c);
                        return std::memcmp(pixelAddress(img, x, y, c), &value, componentSize(type)) == 0;
                    }));
                }
                // Invert: the whole image or one channel, unsigned types only.
                for (int channel : {-1, last}) {
                    fillRaw(img);
                    ASSERT_EQ(channel < 0 ? Invert(img) : InvertChannel(img, channel),
                              inverted ? eOk : eErrUnsupported);
                    EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                        return holds(img, x, y, c, x, y, c,
                                     inverted && (channel < 0 || c == target) ? 0xff : 0);
                    }));
                }
                EXPECT_TRUE(paddingIs(img, 0xcd));
                // Swap: physical positions, no logical mapping (pixel packing only).
                fillRaw(img);
                if (packing == ePixel) {
                    ASSERT_EQ(SwapChannels(img, 0, last), real ? eOk : eErrUnsupported);
                    EXPECT_TRUE(holdsFrom(img, [&](int x, int y, int c) {
                        return std::array{x, y, !real ? c : c == 0 ? last : c == last ? 0 : c};
                    }));
                }
            }
}
