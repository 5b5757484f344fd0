#pragma once
// The built-in filters as GStreamer elements: in-place video filters over the filter cores. Each frame
// is converted to the host's pixels and back with the conversions aufhost uses for Y4M frames of the
// same layout, and filtered as aufhost filters it by default (the editor's result with one thread),
// so the bytes are aufhost's whatever the element's thread count.
#include <gst/gst.h>

#include <span>

#include "core/filter_core.h"

namespace gsthost {

// The plug-in that holds the elements: its name, and what gst-inspect shows of it.
inline constexpr char kPluginDescription[] = "velour and deblock: filters for block-coded video";
inline constexpr char kPluginLicense[] = "MIT/X11";
inline constexpr char kPluginSource[] = "velour-deblock";  // a short mnemonic of the source
inline constexpr char kPluginPackage[] = "velour and deblock";
inline constexpr char kPluginOrigin[] = "velour and deblock, built from source";

// Registers one element per filter of `cores`, named as the filter; false if one fails.
bool RegisterElements(GstPlugin* plugin, std::span<const core::FilterCore* const> cores);
// The plug-in's entry: every built-in filter.
gboolean RegisterBuiltinElements(GstPlugin* plugin);
// The same plug-in registered from within this program, without loading the library (tests).
bool RegisterPluginStatically();

}  // namespace gsthost
