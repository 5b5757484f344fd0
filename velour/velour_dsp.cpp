#include "velour/velour_dsp.h"

namespace velour {

void InitVelourDsp(VelourDsp& dsp, host::CpuFlags flags) {
  dsp.Wht8x8 = Wht8x8_C;
  dsp.FilterBlockRow = FilterBlockRow_C;
  (void)flags;
}

const VelourDsp& DetectedVelourDsp() {
  static const VelourDsp dsp = [] {
    VelourDsp d;
    InitVelourDsp(d, host::DetectCpuFlags());
    return d;
  }();
  return dsp;
}

}  // namespace velour
