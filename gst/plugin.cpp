// The plug-in library: GStreamer finds it on its plug-in path and registers the elements.
#include "auf_version.h"
#include "gst/filter_element.h"

#define PACKAGE gsthost::kPluginSource

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, velourdeblock, gsthost::kPluginDescription,
                  gsthost::RegisterBuiltinElements, AUF_VERSION, gsthost::kPluginLicense,
                  gsthost::kPluginPackage, gsthost::kPluginOrigin)
