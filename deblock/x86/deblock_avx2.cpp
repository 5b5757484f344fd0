// AVX2 kernels: the edge-line arithmetic of deblock_simd.h in 16 lanes per register; a vertical
// edge takes its four rows in one register (deblock_vertical.h), a tile its sixteen rows
// (deblock_tile.h).
#include <immintrin.h>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_tile.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {

void InitDeblockDsp_Avx2(DeblockDsp& dsp) { SetVectorKernels<simd::Avx2, simd::Avx2>(dsp); }

}  // namespace deblock
