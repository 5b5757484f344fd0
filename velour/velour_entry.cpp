// The editor's plug-in: its filter record, and ProcessFrame, a thin adapter over the core. The
// result is the core's with one partition per editor worker thread, so the passes follow the
// editor's thread count as the editor's users know it.
#include <algorithm>

#include "host/filter_record.h"
#include "velour/velour.h"

namespace velour {
namespace {

using host::FilterTable;
using host::FrameInfo;
using host::HostFilter;

void AUF_CDECL ReportThreadCount(int t, int n, void* record, void*) {
  if (t >= 0 && t < 8) static_cast<int32_t*>(record)[t] = n;
}

// The editor's worker thread count: every worker reports the count it is given into the slot of
// its index; indexes past the 8 slots write nothing, and any slot holds the count.
int32_t CountWorkers(HostFilter* filter) {
  int32_t slots[8] = {};
  filter->host_functions->RunOnWorkers(&ReportThreadCount, slots, nullptr);
  int32_t t = 1;
  for (int i = 0; i < 8; ++i) t = std::max(t, slots[i]);
  return t;
}

AUF_HOST_ENTRY int AUF_CDECL ProcessFrame(HostFilter* filter, FrameInfo* frame) {
  const int32_t threads = CountWorkers(filter);
  const core::Plane edit{frame->edit, frame->w, frame->h, frame->stride};
  const core::Plane temp{frame->temp, frame->w, frame->h, frame->stride};
  FilterFrame(DetectedVelourDsp(), ParamsFromTracks(filter->track_values), edit, temp, threads,
              host::EditorWorkers(filter, threads));
  return 1;
}

// A separate copy of the name: the editor keeps both texts.
const char kInformation[] = "Velour for AviUtl";

constinit FilterTable g_table = host::MakeFilterTable(kVelourCore, kInformation, &ProcessFrame);

}  // namespace
}  // namespace velour

AUF_EXPORT host::FilterTable* AUF_CDECL GetFilterTable() { return &velour::g_table; }
