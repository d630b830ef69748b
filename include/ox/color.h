#pragma once

#include <ox/errors.h>
#include <ox/export.h>
#include <ox/imagebuf.h>

#include <QRect>

// Colour-model conversions: mono to colour and back, with and without alpha, interleaved to planar
// and back, anything to an 8-bit four-channel display image, one channel as a grey display image,
// luminance and red/blue exchange. The caller allocates the destination with the geometry each
// function names; nothing is allocated here except small per-call tables and the process-wide
// lookup tables of ConvertToRGBA8.
//
// Channels are logical (red 0, green 1, blue 2, alpha 3) and found in memory as
// ChannelIndexLogicalToPhysical says, so 8-bit interleaved images with colorOrder 0 or 1 are read
// and written blue first; functions that copy "in memory order" move bytes position by position.
// Region forms read `rect` of the source and write it at the destination's top-left; other
// destination pixels keep their values.
//
// Each function checks its arguments in the order given and returns the code of the first failing
// check (see errors.h); nothing is written on an argument error. Rows (of each plane in turn when
// planar) run in parallel through OpenMP. No locks are taken, except the mutex that guards the
// creation of ConvertToRGBA8's lookup tables; functions may run at once on different buffers.

namespace ox {

// Mono to colour: each of the three channels of `dst` takes the mono value.
// Codes: src without data or not one channel: eErrInvalidArg1; dst without data, not 3 pixel-packed
// channels, of another type or size: eErrInvalidArg2; types other than 8/16-bit integers:
// eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ConvertMonoToRGB(const SxImageBuf& src, SxImageBuf& dst);

// As ConvertMonoToRGB into 4 channels, the alpha channel set to `alpha` (its low byte for 8-bit data).
OX_EXPORT unsigned int ConvertMonoToRGBA(const SxImageBuf& src, SxImageBuf& dst, unsigned short alpha);

// 8-bit RGB to 8-bit RGBA: the three bytes of each pixel copied in memory order, the fourth set to
// `alpha`. The destination may be larger than the source (the rest is kept).
// Codes: src without data or not 3 pixel-packed eUInt8 channels: eErrInvalidArg1; dst without data,
// not 4 pixel-packed eUInt8 channels or smaller than src: eErrInvalidArg2. Else eOk.
OX_EXPORT unsigned int ConvertRGB8ToRGBA8(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha);
// Region form: rect not inside src: eErrInvalidArg2; dst as above but smaller than rect:
// eErrInvalidArg3.
OX_EXPORT unsigned int ConvertRGB8ToRGBA8(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst,
                                          unsigned char alpha);

// 8-bit RGBA to 8-bit RGB: logical red, green and blue copied, alpha dropped.
// Codes: src without data or not 4 pixel-packed eUInt8 channels: eErrInvalidArg1; dst without data,
// not 3 pixel-packed eUInt8 channels or smaller than src: eErrInvalidArg2. Else eOk.
OX_EXPORT unsigned int ConvertRGBA8ToRGB8(const SxImageBuf& src, SxImageBuf& dst);
// Region form: rect not inside src: eErrInvalidArg2; dst as above but smaller than rect:
// eErrInvalidArg3.
OX_EXPORT unsigned int ConvertRGBA8ToRGB8(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst);

// RGBA to RGB of any type but eComplex: logical red, green and blue copied, alpha dropped.
// Codes: src without data or not 4 pixel-packed channels: eErrInvalidArg1; dst without data, not 3
// pixel-packed channels, of another type or size: eErrInvalidArg2; eComplex or unknown types:
// eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ConvertRGBAToRGB(const SxImageBuf& src, SxImageBuf& dst);
// Region form: rect not inside src: eErrInvalidArg2; dst without data, not 3 pixel-packed channels,
// of another type or smaller than rect: eErrInvalidArg3.
OX_EXPORT unsigned int ConvertRGBAToRGB(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst);

// Colour to mono: (R + G + B) / 3. Integer types sum in integer arithmetic and divide with
// truncation toward zero; floating-point types compute in double precision. The result is stored
// converted to the type (integer results out of the type's range keep their low-order bits).
// Codes: src without data, or not 3/4 pixel-packed or 3 planar channels: eErrInvalidArg1; dst
// without data, not one channel, of another type or size: eErrInvalidArg2; eComplex or unknown
// types: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ConvertRGBToMono(const SxImageBuf& src, SxImageBuf& dst);
// Weighted form: (wR·R + wG·G + wB·B) / 3. For integer types each product (in double precision) is
// truncated toward zero to an integer first (saturating at ±3e18, or at ±5.6e37 for 64-bit types,
// so that the sum of three cannot overflow; NaN gives 0), then the three are summed and divided by
// 3 as above. Weights are not normalised: 1, 1, 1 is the average.
OX_EXPORT unsigned int ConvertRGBToMono(const SxImageBuf& src, SxImageBuf& dst, double wR, double wG,
                                        double wB);

// Luminance 0.2126·R + 0.7152·G + 0.0722·B of 8- or 16-bit data, computed in double precision (in
// the order green, red, blue) and truncated toward zero. Layouts:
//   - a single-channel mosaic (bayerGrid one of the four layouts): dst has half the width and
//     height; each 2 x 2 cell gives one value, G being the mean of its two greens;
//   - 3 or 4 pixel-packed channels, or 3 planar channels: dst has the same size;
//   - a single channel without a layout: copied with CopyBuffer (its failure, for example another
//     size, gives eErrFailed).
// Codes: src without data or not 8/16-bit unsigned, or dst without data or not one channel:
// eErrInvalidArg1; dst of another type, colorBitDepth or size: eErrInvalidArg2; other layouts:
// eErrUnsupported. Else eOk.
OX_EXPORT unsigned int Luminance(const SxImageBuf& src, SxImageBuf& dst);

// Three planes to logical channels 0, 1, 2 of dst (a fourth channel is left unchanged).
// Codes: src without data or not 3 planar channels: eErrInvalidArg1; dst without data, fewer than
// 3 channels, components other than 1 or 2 bytes, another type or size: eErrInvalidArg2. Else eOk.
OX_EXPORT unsigned int ConvertPlanarToRGB(const SxImageBuf& src, SxImageBuf& dst);

// Three 8-bit planes to an 8-bit RGBA image with alpha `alpha`.
// Codes: src without data or not 3 planar eUInt8 channels: eErrInvalidArg1; dst without data, not
// 4 pixel-packed eUInt8 channels or of another size: eErrInvalidArg2. Else eOk.
OX_EXPORT unsigned int ConvertRGB8PlanarToRGBA8(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha);

// Logical channel c of an 8/16-bit three-channel image to plane c of dst.
// Codes: src without data or not 3 eUInt8/eUInt16 channels: eErrInvalidArg1; dst without data,
// not 3 planar channels, not exactly src's size or of another type: eErrInvalidArg2. Else eOk.
OX_EXPORT unsigned int ConvertRGBToPlanar(const SxImageBuf& src, SxImageBuf& dst);
// Region form: rect not inside src: eErrInvalidArg2; dst as above but not exactly rect's size:
// eErrInvalidArg3.
OX_EXPORT unsigned int ConvertRGBToPlanar(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst);

// Interleaved to planar, by src.bayerGrid:
//   - one of the four layouts: ConvertRawToPlanarRaw of the whole source (dst: 4 planes of half
//     the size, else eErrInvalidArg2);
//   - eMultispectral: checks mosaicWidth and mosaicHeight (positive, else eErrInvalidArg1) and dst
//     (mosaicWidth x mosaicHeight planes of src's size divided by the cell size, else
//     eErrInvalidArg2), then returns eErrUnsupported: splitting such mosaics is not implemented;
//   - eNoBayer: dst has src's channel count and size (else eErrInvalidArg2); one channel is copied,
//     three go through ConvertRGBToPlanar, other counts are de-interleaved by component size;
//   - other values: eErrUnsupported.
// Codes before that: src without data, or several channels not pixel packed: eErrInvalidArg1; dst
// without data, not planar or of another type: eErrInvalidArg2. A failure of a called conversion
// gives eErrFailed; 16-byte components give eErrUnsupported.
OX_EXPORT unsigned int ConvertPackPixelToPlanar(const SxImageBuf& src, SxImageBuf& dst);

// Makes an 8-bit RGBA display image (dst: 4 pixel-packed eUInt8 channels, src's size) from:
//   - 4 channels eUInt8 pixel-packed with dst's colorBitDepth, bayerGrid and colorOrder: copied;
//   - 3 channels eUInt8 pixel-packed: ConvertRGB8ToRGBA8, alpha 255;
//   - 1 channel eUInt8 (pixel or planar): ConvertMonoToRGBA, alpha 0;
//   - 3 channels eUInt8 planar: ConvertPlanarToRGB, alpha unchanged;
//   - 1 or 3 pixel-packed channels eUInt16: lookup table for src.colorBitDepth (1 ... 16; others
//     eErrUnsupported), entry i = round(i × 255 / (2^d − 1)), values at or above 2^d limited to
//     2^d − 1; alpha 255 for one channel, `alpha` for three;
//   - 1 pixel-packed or 3 channels of eInt16, eInt32, eUInt32, eFloat, eDouble, eInt64, eUInt64,
//     and 3 planar eUInt16 channels: linear stretch trunc((v − min) × 255 / (max − min)) over all
//     colour components (0 when max = min; for floating point computed in double precision, NaN
//     and the infinities ignored by the search, NaN and −∞ written as 0, +∞ as 255), alpha `alpha`.
// Codes: src without data or more than 4 channels: eErrInvalidArg1; dst not as above:
// eErrInvalidArg2; anything else (other 4-channel sources, eComplex, eInt8, 2 channels, ...):
// eErrUnsupported; a failure of a called conversion: eErrFailed; no memory for a lookup table:
// eErrOutOfMemory. Else eOk.
// The lookup tables are made once per process on first use (under a mutex) and kept.
OX_EXPORT unsigned int ConvertToRGBA8(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha);

// One channel of src as grey into the 4-channel 8-bit dst (red = green = blue = the value, alpha
// `alpha`). 8-bit samples are copied; 16-bit samples are shifted right by src.colorBitDepth −
// dst.colorBitDepth bits (when positive) and their low byte stored.
//   - a single-channel 8/16-bit mosaic (bayerGrid one of the four layouts): `channel` is the cell
//     position in reading order (0 ... 3); dst has half the width and height;
//   - 3 or 4 channels: `channel` is a logical colour (0 ... 2); dst has src's size; only
//     eUInt8/eUInt16 sources are handled (else eErrUnsupported).
// Codes: src not a valid buffer (or a mosaic not 8/16-bit): eErrInvalidArg1; dst not a valid
// 4-channel pixel-packed eUInt8 buffer of the required size: eErrInvalidArg3; channel out of range:
// eErrInvalidArg2; every other source: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ExtractChannelToRGB32(const SxImageBuf& src, int channel, SxImageBuf& dst,
                                             unsigned char alpha);

// Exchanges logical red and blue in place (SwapChannels(buf, 0, 2)).
// Codes: no data or not 3/4 pixel-packed channels: eErrInvalidArg1; a failure of the swap (for
// example eComplex data): eErrFailed. Else eOk.
OX_EXPORT unsigned int SwapRedAndBlue(SxImageBuf& buf);

} // namespace ox
