#pragma once
// The vector tiers of the deblocking filter: each sets the kernels of the table that it improves.
#include "deblock/deblock_dsp.h"

namespace deblock {

void InitDeblockDsp_Sse2(DeblockDsp& dsp);
void InitDeblockDsp_Avx2(DeblockDsp& dsp);
// For CPUs whose 512-bit units are full width: tiles of two grid rows in 512-bit registers.
void InitDeblockDsp_Avx512(DeblockDsp& dsp);
// The AVX-512 kernels on 256-bit registers.
void InitDeblockDsp_Avx512Ymm(DeblockDsp& dsp);
// The AVX-512 kernels with the tiles of 32-bit code (one pair of grid rows in eight registers).
void InitDeblockDsp_Avx512Narrow(DeblockDsp& dsp);
// For CPUs that run 512-bit operations in two halves: the tiles of 16 lanes, the horizontal runs in
// 512-bit registers.
void InitDeblockDsp_Avx512Split(DeblockDsp& dsp);

}  // namespace deblock
