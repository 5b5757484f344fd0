// The successor editor's plug-in, velour.auf2: the core's setting items (matrix a list of the base
// matrices by name), the shared video procedure and the exported entry points.
#include "auf2/auf2_filter.h"
#include "auf_version.h"
#include "velour/velour.h"

AUF2_PLUGIN(velour::kVelourCore,
            L"velour " AUF_VERSION
            ": smoothing filter for block-coded video. By the velour and deblock authors, MIT License.")
