#pragma once

// The vector kernels, written once over a vector type V and built by one
// file per instruction set, each compiled for its own set. Everything here
// has internal linkage, and nothing inline is taken from the library
// headers: no code built for one set may stand in for the code another
// processor runs.
//
// V works in 128-bit lanes, one for SSSE3 and two side by side for AVX2,
// each lane on pixels of its own. The byte shuffles and multiply-adds the
// 3-byte pixels need stay within a lane, so the same steps serve both sets.
// What a row's vectors cannot finish (its last pixels) the scalar reference
// does, so every output byte comes from the same arithmetic.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "row_kernels.h"

namespace pictrim {
namespace {

struct LaneMask {
    std::uint8_t b[16];
};
constexpr std::uint8_t kZero = 0x80;  // a shuffle index that gives 0

// --- Reduction -------------------------------------------------------------
//
// Sums are kept four to a pixel, [B G R 0] in 16 bits, so that two pixels
// fill a lane. One source row at a time: the floor averages of its runs of
// Step pixels are added to the sums; after the last row the sums are
// divided by Step and the pixels packed back to 3 bytes.

// Run sums of up to four pixels per lane: each channel's bytes side by side,
// so that adding pairs twice (bytes to 16 bits, 16 to 32) leaves [B G R 0].
constexpr LaneMask GroupMask(unsigned pixels) {
    LaneMask m{};
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned c = i / 4, q = i % 4;
        m.b[i] = c < 3 && q < pixels ? static_cast<std::uint8_t>(3 * q + c) : kZero;
    }
    return m;
}
// Step 2: two runs of two pixels per lane; one adding of pairs leaves
// [B G R 0 B G R 0].
constexpr LaneMask PairMask() {
    LaneMask m{};
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned run = i / 8, c = i % 8 / 2, q = i % 2;
        m.b[i] = c < 3 ? static_cast<std::uint8_t>(6 * run + 3 * q + c) : kZero;
    }
    return m;
}
// [B G R 0] x 4 bytes back to 12 bytes of pixels.
constexpr LaneMask DropMask() {
    LaneMask m{};
    for (unsigned i = 0; i < 16; ++i) m.b[i] = i < 12 ? static_cast<std::uint8_t>(i / 3 * 4 + i % 3) : kZero;
    return m;
}
constexpr LaneMask kGroupMasks[5] = {GroupMask(0), GroupMask(1), GroupMask(2), GroupMask(3), GroupMask(4)};
constexpr LaneMask kPairMask = PairMask(), kDropMask = DropMask();

// x / step as the high half of x * ceil(65536 / step): exact for every sum
// the kernel divides (at most 255 * step), as checked here for each step.
constexpr std::uint16_t DivisionFactor(unsigned step) { return static_cast<std::uint16_t>((65535 + step) / step); }
constexpr bool DivisionIsExact(unsigned step) {
    for (unsigned x = 0; x <= 255 * step; ++x)
        if ((x * DivisionFactor(step)) >> 16 != x / step) return false;
    return true;
}
static_assert(DivisionIsExact(2) && DivisionIsExact(3) && DivisionIsExact(4) && DivisionIsExact(5) &&
              DivisionIsExact(10) && DivisionIsExact(20));

// [B G R 0] in 32 bits: the sums of the run of Step pixels at p, lane l
// taking the run l runs further on. The run is read four pixels at a time.
template <class V, unsigned Step>
typename V::T RunSums(const std::uint8_t* p) {
    typename V::T pairs = V::Zero();
    for (unsigned q = 0; q < Step; q += 4) {
        const typename V::T bytes = V::LoadLanes(p + 3 * q, 3 * Step);
        const LaneMask& mask = kGroupMasks[Step - q < 4 ? Step - q : 4];
        pairs = V::Add16(pairs, V::AddPairs8(V::Shuffle(bytes, V::Masks(mask, mask))));
    }
    return V::AddPairs16(pairs);
}

// The floor averages of 2 * kLanes runs from p, [B G R 0] in 16 bits.
template <class V, unsigned Step>
typename V::T RunAverages(const std::uint8_t* p) {
    typename V::T sums;
    if constexpr (Step == 2) {
        sums = V::AddPairs8(V::Shuffle(V::LoadLanes(p, 12), V::Masks(kPairMask, kPairMask)));
    } else {
        sums = V::Pack32(RunSums<V, Step>(p), RunSums<V, Step>(p + 3 * Step * V::kLanes));
    }
    return V::MulHigh16(sums, DivisionFactor(Step));
}

// Each group of pixels takes up to ten source rows at once, its sums kept
// in registers: more rows read side by side than that and the processor
// no longer fetches them ahead. Step 20 goes in two halves, the first
// half's sums kept in `sums`.
template <class V, unsigned Step>
void ReduceRow(const std::uint8_t* rows, std::size_t stride, std::uint32_t dstWidth, std::uint16_t* sums,
               std::uint8_t* out) {
    constexpr unsigned kGroup = 4 * V::kLanes;  // pixels: two vectors of sums
    constexpr unsigned kRowsAtOnce = Step <= 10 ? Step : 10;
    // A group's loads end at most 13 bytes past its runs and its stores 4
    // bytes past its pixels: with two pixels left over both stay inside the
    // row. The last group starts where it ends there, doing again some
    // pixels of the one before, with the same result.
    const std::size_t vectorPixels = dstWidth < kGroup + 2 ? 0 : dstWidth - 2;
    const typename V::T drop = V::Masks(kDropMask, kDropMask);
    for (unsigned first = 0; first < Step; first += kRowsAtOnce) {
        for (std::size_t next = 0; next < vectorPixels; next += kGroup) {
            const std::size_t i = next + kGroup <= vectorPixels ? next : vectorPixels - kGroup;
            const std::uint8_t* p = rows + first * stride + 3 * Step * i;
            std::uint16_t* s = sums + 4 * i;
            typename V::T low = RunAverages<V, Step>(p), high = RunAverages<V, Step>(p + 3 * Step * kGroup / 2);
            for (unsigned k = 1; k < kRowsAtOnce; ++k) {
                p += stride;
                low = V::Add16(low, RunAverages<V, Step>(p));
                high = V::Add16(high, RunAverages<V, Step>(p + 3 * Step * kGroup / 2));
            }
            if (first > 0) {
                low = V::Add16(low, V::Load(s));
                high = V::Add16(high, V::Load(s + 2 * kGroup));
            }
            if (first + kRowsAtOnce < Step) {
                V::Store(s, low);
                V::Store(s + 2 * kGroup, high);
                continue;
            }
            low = V::MulHigh16(low, DivisionFactor(Step));
            high = V::MulHigh16(high, DivisionFactor(Step));
            V::StoreLanes(out + 3 * i, 12, V::Shuffle(V::PackU8(low, high), drop));
        }
    }
    if (vectorPixels < dstWidth)
        ScalarReduceRow(Step)(rows + 3 * Step * vectorPixels, stride, static_cast<std::uint32_t>(dstWidth - vectorPixels),
                              sums + 4 * vectorPixels, out + 3 * vectorPixels);
}

template <class V>
ReduceRowFn PickReduceRow(std::uint32_t step) {
    switch (step) {
    case 2: return &ReduceRow<V, 2>;
    case 3: return &ReduceRow<V, 3>;
    case 4: return &ReduceRow<V, 4>;
    case 5: return &ReduceRow<V, 5>;
    case 10: return &ReduceRow<V, 10>;
    case 20: return &ReduceRow<V, 20>;
    default: return nullptr;
    }
}

// --- Enlargement -------------------------------------------------------------
//
// With D the row of each source pixel twice and E the same one pixel on,
// an even result row is the floor average of D and E, bytewise; an odd
// one averages D and E of both source rows. Eight source pixels make 48
// result bytes, three vectors of 16; vector p of them draws on the 16
// source bytes from 6p on, and its D and E are shuffles of those.

constexpr unsigned kWindow[3] = {0, 6, 12};

constexpr LaneMask DoubledMask(unsigned p, unsigned shift) {
    LaneMask m{};
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned byte = 16 * p + i, pixel = byte / 3 + shift;
        m.b[i] = static_cast<std::uint8_t>(3 * (pixel / 2) + byte % 3 - kWindow[p]);
    }
    return m;
}
constexpr LaneMask kD[3] = {DoubledMask(0, 0), DoubledMask(1, 0), DoubledMask(2, 0)};
constexpr LaneMask kE[3] = {DoubledMask(0, 1), DoubledMask(1, 1), DoubledMask(2, 1)};

// Vector k of a pass: lane l holds result vector v = k * kLanes + l.
template <class V>
constexpr unsigned SourceOffset(unsigned v) {
    return 24 * (v / 3) + kWindow[v % 3];
}
template <class V>
typename V::T LoadWindow(const std::uint8_t* s, unsigned k) {
    const unsigned v = k * V::kLanes;
    return V::LoadLanes(s + SourceOffset<V>(v), SourceOffset<V>(v + 1) - SourceOffset<V>(v));
}
template <class V>
typename V::T Shifted(typename V::T window, unsigned k, const LaneMask (&masks)[3]) {
    const unsigned v = k * V::kLanes;
    return V::Shuffle(window, V::Masks(masks[v % 3], masks[(v + 1) % 3]));
}

template <class V>
typename V::T FloorAverage(typename V::T x, typename V::T y) {
    return V::Sub8(V::Average8(x, y), V::And(V::Xor(x, y), V::Ones8()));
}

// Source pixels the vectors take of a row: a pass reads 4 bytes past its
// pixels, and E the pixel after them, so two pixels are left over. The last
// pass starts where it ends there, doing again some pixels of the one before.
constexpr unsigned kPass = 8;  // source pixels per lane and pass
template <class V>
std::size_t VectorPixels(std::uint32_t width) {
    return width < kPass * V::kLanes + 2 ? 0 : width - 2;
}
template <class V>
std::size_t PassStart(std::size_t next, std::size_t pixels) {
    return next + kPass * V::kLanes <= pixels ? next : pixels - kPass * V::kLanes;
}

template <class V>
void EvenRow(const std::uint8_t* a, std::uint32_t width, std::uint8_t* out) {
    const std::size_t pixels = VectorPixels<V>(width);
    for (std::size_t next = 0; next < pixels; next += kPass * V::kLanes) {
        const std::size_t x = PassStart<V>(next, pixels);
        for (unsigned k = 0; k < 3; ++k) {
            const typename V::T w = LoadWindow<V>(a + 3 * x, k);
            V::Store(out + 6 * x + 16 * V::kLanes * k, FloorAverage<V>(Shifted<V>(w, k, kD), Shifted<V>(w, k, kE)));
        }
    }
    if (pixels < width)
        ScalarEnlargeRows().even(a + 3 * pixels, static_cast<std::uint32_t>(width - pixels), out + 6 * pixels);
}

// floor((a + b + c + d) / 4) without widening: with h1, h2 the floor
// averages of (a, b) and (c, d) and l1, l2 their lost low bits, the sum is
// 2 (h1 + h2) + l1 + l2, and its quarter is the floor average of h1 and h2,
// plus one just when l1 and l2 are both set and h1 + h2 is odd.
template <class V>
void OddRow(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t width, std::uint8_t* out) {
    const std::size_t pixels = VectorPixels<V>(width);
    for (std::size_t next = 0; next < pixels; next += kPass * V::kLanes) {
        const std::size_t x = PassStart<V>(next, pixels);
        for (unsigned k = 0; k < 3; ++k) {
            const typename V::T wa = LoadWindow<V>(a + 3 * x, k), wb = LoadWindow<V>(b + 3 * x, k);
            const typename V::T h = FloorAverage<V>(wa, wb), l = V::And(V::Xor(wa, wb), V::Ones8());
            const typename V::T h1 = Shifted<V>(h, k, kD), h2 = Shifted<V>(h, k, kE);
            const typename V::T carry = V::And(V::And(Shifted<V>(l, k, kD), Shifted<V>(l, k, kE)), V::Xor(h1, h2));
            V::Store(out + 6 * x + 16 * V::kLanes * k, V::Add8(FloorAverage<V>(h1, h2), carry));
        }
    }
    if (pixels < width)
        ScalarEnlargeRows().odd(a + 3 * pixels, b + 3 * pixels, static_cast<std::uint32_t>(width - pixels),
                                out + 6 * pixels);
}

}  // namespace
}  // namespace pictrim
