// The vector kernels on one 128-bit lane (SSSE3), built with -mssse3 and
// run only where the processor has it.
#include "vector_kernels_impl.h"

namespace pictrim {
namespace {

struct V128 {
    using T = __m128i;
    static constexpr unsigned kLanes = 1;

    static T Load(const void* p) { return _mm_loadu_si128(static_cast<const T*>(p)); }
    static T LoadLanes(const std::uint8_t* p, std::size_t) { return Load(p); }
    static void Store(void* p, T v) { _mm_storeu_si128(static_cast<T*>(p), v); }
    static void StoreLanes(std::uint8_t* p, std::size_t, T v) { Store(p, v); }
    static T Masks(const LaneMask& lane0, const LaneMask&) { return Load(lane0.b); }

    static T Zero() { return _mm_setzero_si128(); }
    static T Ones8() { return _mm_set1_epi8(1); }
    static T Shuffle(T v, T mask) { return _mm_shuffle_epi8(v, mask); }
    static T AddPairs8(T v) { return _mm_maddubs_epi16(v, Ones8()); }
    static T AddPairs16(T v) { return _mm_madd_epi16(v, _mm_set1_epi16(1)); }
    static T Pack32(T a, T b) { return _mm_packs_epi32(a, b); }
    static T PackU8(T a, T b) { return _mm_packus_epi16(a, b); }
    static T Add16(T a, T b) { return _mm_add_epi16(a, b); }
    static T MulHigh16(T v, std::uint16_t factor) { return _mm_mulhi_epu16(v, _mm_set1_epi16(static_cast<short>(factor))); }
    static T Average8(T a, T b) { return _mm_avg_epu8(a, b); }
    static T Add8(T a, T b) { return _mm_add_epi8(a, b); }
    static T Sub8(T a, T b) { return _mm_sub_epi8(a, b); }
    static T And(T a, T b) { return _mm_and_si128(a, b); }
    static T Xor(T a, T b) { return _mm_xor_si128(a, b); }
};

}  // namespace

ReduceRowFn Ssse3ReduceRow(std::uint32_t step) { return PickReduceRow<V128>(step); }
EnlargeRowFns Ssse3EnlargeRows() { return {&EvenRow<V128>, &OddRow<V128>}; }

}  // namespace pictrim
