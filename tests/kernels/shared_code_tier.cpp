// What a tier's file must not be (scripts/check-tier-objects refuses it): beside its table builder,
// an inline function of the whole program's, of which the linker keeps one copy for every caller.
namespace sample {

inline int Twice(int v) { return 2 * v; }

void InitSampleDsp_Sse2(int (**slot)(int)) { *slot = Twice; }

}  // namespace sample
