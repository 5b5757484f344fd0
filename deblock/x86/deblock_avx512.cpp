// AVX-512 kernels (F, BW, VL), the tests of an edge line in mask registers, which spare the vector
// registers the three masks of an edge line:
// - for CPUs whose 512-bit units are full width, the horizontal runs of deblock_simd.h in 32 lanes
//   per register, the vertical edges in 16 (deblock_vertical.h), the tiles in pairs of grid rows with
//   one pixel column of eight rows per register (deblock_pair_tile.h);
// - the same with every register 256 bits wide, the tiles in four grid rows of 16 lanes
//   (deblock_tile.h);
// - for CPUs that run 512-bit operations in two halves, the horizontal runs in 32 lanes, the rest as
//   on 256-bit registers. In 32-bit code, whose eight vector registers do not hold the tiles of 16
//   lanes, their tiles are the pairs of grid rows too.
#include <immintrin.h>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_pair_tile.h"
#include "deblock/x86/deblock_tile.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {
namespace {

template <int kPairs = kTilePairs>
void SetPairTile(DeblockDsp& dsp) {
  dsp.FilterTile =
      FilterPairTileT<kPairs, FilterHorizontalEdgesT<simd::Avx512>, FilterVerticalEdgesT<simd::Avx512Ymm>>;
  dsp.tile = PairTile<kPairs>::kShape;
}

}  // namespace

void InitDeblockDsp_Avx512(DeblockDsp& dsp) {
  SetVectorKernels<simd::Avx512, simd::Avx512Ymm>(dsp);
  SetPairTile(dsp);
}

void InitDeblockDsp_Avx512Ymm(DeblockDsp& dsp) { SetVectorKernels<simd::Avx512Ymm, simd::Avx512Ymm>(dsp); }

void InitDeblockDsp_Avx512Narrow(DeblockDsp& dsp) {
  SetVectorKernels<simd::Avx512, simd::Avx512Ymm>(dsp);
  SetPairTile<1>(dsp);
}

void InitDeblockDsp_Avx512Split(DeblockDsp& dsp) {
  SetVectorKernels<simd::Avx512, simd::Avx512Ymm>(dsp);
#if defined(__i386__)
  SetPairTile(dsp);
#endif
}

}  // namespace deblock
