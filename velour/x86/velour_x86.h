#pragma once
// The vector tiers of the smoothing filter: each sets the kernels of the table that it improves.
#include "velour/velour_dsp.h"

namespace velour {

void InitVelourDsp_Sse2(VelourDsp& dsp);
void InitVelourDsp_Avx2(VelourDsp& dsp);
void InitVelourDsp_Avx512(VelourDsp& dsp);
// The AVX-512 kernels on 256-bit registers.
void InitVelourDsp_Avx512Ymm(VelourDsp& dsp);

}  // namespace velour
