// The 64-bit successor editor's plug-in, velour.auf2: its filter table and setting items (the same
// names, defaults and ranges as the track bars of the older editor's plug-in), and a video
// procedure that hands each frame to the shared adapter.
#include "auf_version.h"
#include "host/auf2_filter.h"
#include "velour/velour.h"

namespace velour {
namespace {

using host::MakeTrackItem;
using host::SelectEntry;
using host::SelectItem;
using host::TrackItem;

constinit TrackItem g_quant = MakeTrackItem(L"quant", kVelourCore, kTrackQuant);
constinit TrackItem g_n_shift = MakeTrackItem(L"n_shift", kVelourCore, kTrackNShift);
// The base quantiser matrices, by the value the core takes.
constexpr SelectEntry kMatrices[] = {
    {L"JPEG luma", 0}, {L"MPEG-2 intra", 1}, {L"diagonal ramp", 2}, {L"gentle ramp", 3}, {L"flat", 4}, {nullptr, 0}};
constinit SelectItem g_matrix = {L"select", L"matrix", kTrackDefaults[kTrackMatrix], kMatrices};
constinit TrackItem g_zero_weight = MakeTrackItem(L"zero_weight", kVelourCore, kTrackZeroWeight);
// In track order.
constinit void* g_items[] = {&g_quant, &g_n_shift, &g_matrix, &g_zero_weight, nullptr};

constexpr host::Auf2Filter kFilter = {&kVelourCore, g_items, true};

bool ProcVideo(host::FilterProcVideo* video) { return host::ProcessVideo(kFilter, video); }

constinit host::FilterPluginTable g_table = host::MakeFilterPluginTable(
    L"velour",
    L"velour " AUF_VERSION ": smoothing filter for block-coded video. By the velour and deblock authors, MIT License.",
    g_items, &ProcVideo);

}  // namespace
}  // namespace velour

AUF_EXPORT host::FilterPluginTable* GetFilterPluginTable() { return &velour::g_table; }
AUF_EXPORT void UninitializePlugin() { host::ShutdownAuf2(); }
