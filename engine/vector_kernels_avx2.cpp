// The vector kernels on two 128-bit lanes side by side (AVX2), built with
// -mavx2 and run only where the processor and the system have it.
#include "vector_kernels_impl.h"

namespace pictrim {
namespace {

struct V256 {
    using T = __m256i;
    static constexpr unsigned kLanes = 2;

    static __m128i Load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static T Load(const void* p) { return _mm256_loadu_si256(static_cast<const T*>(p)); }
    static T LoadLanes(const std::uint8_t* p, std::size_t step) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(p)), Load128(p + step), 1);
    }
    static void Store(void* p, T v) { _mm256_storeu_si256(static_cast<T*>(p), v); }
    // Lane 1 last: its bytes may overlap lane 0's spare ones.
    static void StoreLanes(std::uint8_t* p, std::size_t step, T v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + step), _mm256_extracti128_si256(v, 1));
    }
    static T Masks(const LaneMask& lane0, const LaneMask& lane1) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(lane0.b)), Load128(lane1.b), 1);
    }

    static T Zero() { return _mm256_setzero_si256(); }
    static T Ones8() { return _mm256_set1_epi8(1); }
    static T Shuffle(T v, T mask) { return _mm256_shuffle_epi8(v, mask); }
    static T AddPairs8(T v) { return _mm256_maddubs_epi16(v, Ones8()); }
    static T AddPairs16(T v) { return _mm256_madd_epi16(v, _mm256_set1_epi16(1)); }
    // The packs work lane by lane; the 64-bit swap puts a's values before b's.
    static T Pack32(T a, T b) { return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8); }
    static T PackU8(T a, T b) { return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8); }
    static T Add16(T a, T b) { return _mm256_add_epi16(a, b); }
    static T MulHigh16(T v, std::uint16_t factor) {
        return _mm256_mulhi_epu16(v, _mm256_set1_epi16(static_cast<short>(factor)));
    }
    static T Average8(T a, T b) { return _mm256_avg_epu8(a, b); }
    static T Add8(T a, T b) { return _mm256_add_epi8(a, b); }
    static T Sub8(T a, T b) { return _mm256_sub_epi8(a, b); }
    static T And(T a, T b) { return _mm256_and_si256(a, b); }
    static T Xor(T a, T b) { return _mm256_xor_si256(a, b); }
};

}  // namespace

ReduceRowFn Avx2ReduceRow(std::uint32_t step) { return PickReduceRow<V256>(step); }
EnlargeRowFns Avx2EnlargeRows() { return {&EvenRow<V256>, &OddRow<V256>}; }

}  // namespace pictrim
