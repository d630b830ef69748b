#pragma once

#include <ox/errors.h>
#include <ox/export.h>
#include <ox/imagebuf.h>

#include <QList>
#include <QRect>

// Simple handling of raw colour-filter mosaics: each 2 x 2 cell holds one red, two green and one
// blue sample, placed as the ExBayerGrid says. The mosaic can be split into four half-size planes
// and joined again, demosaiced at half resolution (one colour pixel per cell, the two greens
// averaged and rounded down), demosaiced straight into an 8-bit display image, and its layout
// guessed. There is no interpolating demosaic.
//
// Planar raw layout: a 4-channel ePlanar buffer of half the mosaic's width and height whose planes
// hold red, the green of the cell's top row, blue and the green of the cell's bottom row; its
// bayerGrid records the layout the planes came from.
//
// All functions check their arguments in the order given and return the code of the first failing
// check (see errors.h); nothing is written on an argument error. Rows run in parallel through
// OpenMP; no locks are taken.

namespace ox {

// Splits the mosaic inside `rect` of `src` into the four planes of `dst` and sets dst.bayerGrid to
// `grid`. Codes: src without data or not one channel: eErrInvalidArg1; rect not inside src or of odd
// width or height: eErrInvalidArg2; dst without data, not 4 planar channels, or of another type,
// colorBitDepth or size than half of rect: eErrInvalidArg4; grid not one of the four layouts:
// eErrInvalidArg3; components other than 1, 2, 4 or 8 bytes: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ConvertRawToPlanarRaw(const SxImageBuf& src, const QRect& rect, ExBayerGrid grid,
                                             SxImageBuf& dst);

// Joins the four planes of `src` into the mosaic `dst`, placed as `grid` says (the inverse of
// ConvertRawToPlanarRaw; dst.bayerGrid is not changed). Codes: src without data, not 4 channels or
// not planar: eErrInvalidArg1; dst without data, not one pixel-packed channel, of another type or
// not twice src's size: eErrInvalidArg2; grid not one of the four layouts: eErrInvalidArg3;
// components other than 1, 2, 4 or 8 bytes: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ConvertPlanarRawToRaw(const SxImageBuf& src, SxImageBuf& dst, ExBayerGrid grid);

// Half-resolution demosaic of `rect` of `src` into `dst` (3 or 4 pixel-packed channels of src's
// type; a fourth channel is left unchanged). A pixel-packed source is a mosaic whose layout is its
// own bayerGrid (`grid` only has to be a layout other than eNoBayer) and gives one pixel per cell;
// a planar source is in the planar raw layout and gives one pixel per position. 8-bit results are
// stored blue first whatever dst.colorOrder says; wider types red first.
// Codes: src without data, or a source of 4-byte or wider components that is neither 4 channels
// nor planar: eErrInvalidArg1; rect not inside src: eErrInvalidArg2; dst without data, not pixel
// packed, of another type, not 3 or 4 channels, or not half rect's size (mosaic) or rect's size
// (planar): eErrInvalidArg3; mosaic with grid eNoBayer or a src.bayerGrid that is not a layout:
// eErrInvalidArg4; eComplex, other packings, or a planar source of fewer than 4 channels:
// eErrUnsupported. Else eOk.
OX_EXPORT unsigned int DemosaicSimple(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst,
                                      ExBayerGrid grid);

// Half-resolution demosaic of an 8- or 16-bit mosaic (one channel) or planar raw image (4 planar
// channels) into a 4-channel 8-bit image, in dst's channel order, with `alpha` in the alpha channel.
// 16-bit values are shifted right by src.colorBitDepth - dst.colorBitDepth bits (when positive)
// after averaging, and their low byte stored. The layout is src.bayerGrid.
// Codes: src not a valid buffer, not one of the two accepted forms, not 8/16-bit, or without a
// layout in bayerGrid: eErrInvalidArg1; dst not a valid 4-channel 8-bit pixel-packed buffer of half
// src's size (mosaic) or src's size (planar): eErrInvalidArg2. Else eOk.
OX_EXPORT unsigned int DemosaicSimpleToRGB32(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha);

// Guesses the layout of the 8- or 16-bit mosaic inside `rect` of `buf` from the sums of the four
// cell positions, assuming that the greens are close to each other and that red is brighter than
// blue. Returns the two candidates, most likely first; an empty list unless buf.bayerGrid already
// names a layout, buf has data, at most one pixel-packed channel, even width and height, and rect
// lies inside with even left, top, width and height. Runs on the calling thread.
OX_EXPORT QList<ExBayerGrid> GuessBayerGrid(const SxImageBuf& buf, const QRect& rect);

} // namespace ox
