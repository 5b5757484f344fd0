// AVX-512 kernels (F, BW, VL): the horizontal runs of deblock_simd.h in 32 lanes per register, and the
// vertical edges and tiles in 16; the tests of an edge line in mask registers, which spare the vector
// registers the three masks of an edge line.
//
// And the same with the horizontal runs on 256-bit registers.
#include <immintrin.h>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_tile.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {

void InitDeblockDsp_AVX512(DeblockDsp& dsp) { SetVectorKernels<simd::Avx512, simd::Avx512Ymm>(dsp); }

void InitDeblockDsp_AVX512Ymm(DeblockDsp& dsp) { SetVectorKernels<simd::Avx512Ymm, simd::Avx512Ymm>(dsp); }

}  // namespace deblock

#undef DEBLOCK_INLINE
