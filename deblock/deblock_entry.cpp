// The editor's plug-in: its filter record, and ProcessFrame, a thin adapter over the core. One run
// of the editor's worker threads, one band per worker, as the editor's users know it.
#include "deblock/deblock.h"
#include "host/filter_record.h"

namespace deblock {
namespace {

using host::FilterTable;
using host::FrameInfo;
using host::HostFilter;

AUF_HOST_ENTRY int AUF_CDECL ProcessFrame(HostFilter* filter, FrameInfo* frame) {
  const core::Plane edit{frame->edit, frame->w, frame->h, frame->stride};
  FilterFrame(DetectedDeblockDsp(), ParamsFromTracks(filter->track_values), edit, 0,
              host::EditorWorkers(filter, 0));
  return 1;
}

// A separate copy of the name: the editor keeps both texts.
const char kInformation[] = "deblock for AviUtl";

constinit FilterTable g_table = host::MakeFilterTable(kDeblockCore, kInformation, &ProcessFrame);

}  // namespace
}  // namespace deblock

AUF_EXPORT host::FilterTable* AUF_CDECL GetFilterTable() { return &deblock::g_table; }
