#include <ox/channels.h>

#include "support/image_helpers.h"

using namespace ox;
using namespace oxtest;

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

TEST(CopyChannel, TakesOneCellPositionOfAMosaicOfEveryType)
{
    forEachType(kAllTypes, [](ExImageDataType type, auto) {
        Image raw(2 * 37 + 1, 2 * 33, 1, type, ePixel, eRGGB);
        fillRaw(raw);
        for (int position : {3, 1}) { // in an RGGB cell: blue, and the top green
            Image cell(37, 33, 1, type);
            ASSERT_EQ(CopyChannel(raw, position, cell, 0), eOk) << type;
            EXPECT_TRUE(holdsFrom(cell, [&](int i, int j, int) {
                return std::array{2 * i + position % 2, 2 * j + position / 2, 0};
            })) << type;
            EXPECT_TRUE(paddingIs(cell, 0xcd));
        }
    });
}

TEST(Channels, SetInvertCopyAndSwapEveryTypeAndLayout)
{
    const unsigned long long value = 0x1122334455667788ull; // stored little-endian: low bytes first
    for (ExImageDataType type : kAllTypes)
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (int channels : {2, 3, 4, 5}) {
                SCOPED_TRACE(testing::Message() << type << '/' << packing << '/' << channels);
                Image img(31, 67, channels, type, packing), mask(31, 67, 1, eUInt8);
                img.colorBitDepth = 3; // the complement covers whole components all the same
                fill<std::uint8_t>(mask, [](int x, int y, int) { return (x + y) % 3 == 0 ? 0 : x + 1; });
                const bool real = type != eComplex,
                           unsig = type == eUInt8 || type == eUInt16 || type == eUInt32 || type == eUInt64;
                const int last = channels - 1, target = physicalChannel(img, last); // blue of RGB images
                // Set, plain or where the mask allows: the value's low-order bytes. Invert, the whole
                // image or one channel: every byte's complement, unsigned types only.
                for (int op = 0; op < 4; ++op) {
                    fillRaw(img);
                    const bool done = op < 2 ? real : unsig;
                    ASSERT_EQ(op == 0   ? SetChannel(img, last, value)
                              : op == 1 ? SetChannel(img, last, mask, value)
                              : op == 2 ? InvertChannel(img, last)
                                        : Invert(img),
                              done ? eOk : eErrUnsupported)
                        << op;
                    EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                        if (!done || (op < 3 && c != target) || (op == 1 && (x + y) % 3 == 0))
                            return holds(img, x, y, c, x, y, c);
                        return op > 1 ? holds(img, x, y, c, x, y, c, 0xff)
                                      : std::memcmp(pixelAddress(img, x, y, c), &value,
                                                    componentSize(type)) == 0;
                    })) << op;
                }
                EXPECT_TRUE(paddingIs(img, 0xcd));
                // True when physical channel `to` holds fillRaw's channel `from` and the others are
                // untouched.
                const auto onlyChannelCopied = [](const SxImageBuf& b, int to, int from) {
                    return holdsFrom(b, [&](int x, int y, int c) {
                        return std::array{c == to ? x : -1, y, from};
                    });
                };
                // Copies: logical channels between interleaved images, planes into planes or into a logical
                // channel of an interleaved image. Swap: physical positions (interleaved images only).
                fillRaw(img);
                Image rgba(31, 67, 4, type), two(31, 67, 2, type, ePlanar);
                if (packing == ePlanar) {
                    ASSERT_EQ(CopyChannelPlanarToPixel(img, last, rgba, 0), eOk);
                    EXPECT_TRUE(onlyChannelCopied(rgba, physicalChannel(rgba, 0), last));
                    ASSERT_EQ(CopyChannel(img, last, two, 1), real ? eOk : eErrUnsupported);
                    EXPECT_TRUE(onlyChannelCopied(two, real ? 1 : -1, last));
                    continue;
                }
                ASSERT_EQ(CopyChannel(img, last, rgba, 2), real ? eOk : eErrUnsupported); // into blue
                EXPECT_TRUE(onlyChannelCopied(rgba, real ? physicalChannel(rgba, 2) : -1, target));
                ASSERT_EQ(SwapChannels(img, 0, last), real ? eOk : eErrUnsupported);
                EXPECT_TRUE(holdsFrom(img, [&](int x, int y, int c) {
                    return std::array{x, y, !real ? c : c == 0 ? last : c == last ? 0 : c};
                }));
            }
}
