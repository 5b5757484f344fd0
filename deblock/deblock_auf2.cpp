// The 64-bit successor editor's plug-in, deblock.auf2: its filter table and setting items (the same
// names, defaults and ranges as the track bars of the older editor's plug-in), and a video
// procedure that hands each frame to the shared adapter.
#include "auf_version.h"
#include "deblock/deblock.h"
#include "host/auf2_filter.h"

namespace deblock {
namespace {

using host::MakeTrackItem;
using host::TrackItem;

constinit TrackItem g_quant = MakeTrackItem(L"quant", kDeblockCore, kTrackQuant);
constinit TrackItem g_a_offset = MakeTrackItem(L"aOffset", kDeblockCore, kTrackAOffset);
constinit TrackItem g_b_offset = MakeTrackItem(L"bOffset", kDeblockCore, kTrackBOffset);
// In track order.
constinit void* g_items[] = {&g_quant, &g_a_offset, &g_b_offset, nullptr};

constexpr host::Auf2Filter kFilter = {&kDeblockCore, g_items, false};

bool ProcVideo(host::FilterProcVideo* video) { return host::ProcessVideo(kFilter, video); }

constinit host::FilterPluginTable g_table = host::MakeFilterPluginTable(
    L"deblock",
    L"deblock " AUF_VERSION ": edge filter for block-coded video. By the velour and deblock authors, MIT License.",
    g_items, &ProcVideo);

}  // namespace
}  // namespace deblock

AUF_EXPORT host::FilterPluginTable* GetFilterPluginTable() { return &deblock::g_table; }
AUF_EXPORT void UninitializePlugin() { host::ShutdownAuf2(); }
