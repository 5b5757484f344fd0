#pragma once
// The vector tiers of the deblocking filter: each sets the kernels of the table that it improves.
#include "deblock/deblock_dsp.h"

namespace deblock {

void InitDeblockDsp_SSE2(DeblockDsp& dsp);
void InitDeblockDsp_AVX2(DeblockDsp& dsp);
void InitDeblockDsp_AVX512(DeblockDsp& dsp);
// The AVX-512 kernels on 256-bit registers.
void InitDeblockDsp_AVX512Ymm(DeblockDsp& dsp);

}  // namespace deblock
