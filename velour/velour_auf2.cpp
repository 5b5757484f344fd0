// The 64-bit successor editor's plug-in, velour.auf2: its filter table and setting items, with the
// names, defaults and ranges of the track bars of the older editor's plug-in. The video procedure
// and the exported entry points are the shared ones (host/auf2_filter.h).
#include "auf2/auf2_filter.h"
#include "auf_version.h"
#include "velour/velour.h"

namespace velour {
namespace {

using auf2::MakeTrackItem;
using auf2::SelectEntry;
using auf2::SelectItem;
using auf2::TrackItem;

constinit TrackItem g_quant = MakeTrackItem(L"quant", kVelourCore, kTrackQuant);
constinit TrackItem g_n_shift = MakeTrackItem(L"n_shift", kVelourCore, kTrackNShift);
// The base quantiser matrices, by the value the core takes.
constexpr SelectEntry kMatrices[] = {{L"JPEG luma", 0},   {L"MPEG-2 intra", 1}, {L"diagonal ramp", 2},
                                     {L"gentle ramp", 3}, {L"flat", 4},         {nullptr, 0}};
constinit SelectItem g_matrix = {L"select", L"matrix", kTrackDefaults[kTrackMatrix], kMatrices};
constinit TrackItem g_zero_weight = MakeTrackItem(L"zero_weight", kVelourCore, kTrackZeroWeight);
// In track order.
constinit void* g_items[] = {&g_quant, &g_n_shift, &g_matrix, &g_zero_weight, nullptr};

}  // namespace
}  // namespace velour

constinit auf2::Auf2Plugin auf2::g_auf2_plugin = auf2::MakeAuf2Plugin(
    L"velour",
    L"velour " AUF_VERSION
    ": smoothing filter for block-coded video. By the velour and deblock authors, MIT License.",
    velour::g_items, velour::kVelourCore, true);
