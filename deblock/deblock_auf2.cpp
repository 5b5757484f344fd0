// The 64-bit successor editor's plug-in, deblock.auf2: its filter table and setting items, with the
// names, defaults and ranges of the track bars of the older editor's plug-in. The video procedure
// and the exported entry points are the shared ones (host/auf2_filter.h).
#include "auf2/auf2_filter.h"
#include "auf_version.h"
#include "deblock/deblock.h"

namespace deblock {
namespace {

using auf2::MakeTrackItem;
using auf2::TrackItem;

constinit TrackItem g_quant = MakeTrackItem(L"quant", kDeblockCore, kTrackQuant);
constinit TrackItem g_a_offset = MakeTrackItem(L"aOffset", kDeblockCore, kTrackAOffset);
constinit TrackItem g_b_offset = MakeTrackItem(L"bOffset", kDeblockCore, kTrackBOffset);
// In track order.
constinit void* g_items[] = {&g_quant, &g_a_offset, &g_b_offset, nullptr};

}  // namespace
}  // namespace deblock

// The core needs no scratch plane.
constinit auf2::Auf2Plugin auf2::g_auf2_plugin = auf2::MakeAuf2Plugin(
    L"deblock",
    L"deblock " AUF_VERSION
    ": edge filter for block-coded video. By the velour and deblock authors, MIT License.",
    deblock::g_items, deblock::kDeblockCore, false);
