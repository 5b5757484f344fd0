// The successor editor's plug-in, deblock.auf2: the core's setting items, the shared video
// procedure and the exported entry points.
#include "auf2/auf2_filter.h"
#include "auf_version.h"
#include "deblock/deblock.h"

AUF2_PLUGIN(deblock::kDeblockCore,
            L"deblock " AUF_VERSION
            ": edge filter for block-coded video. By the velour and deblock authors, MIT License.")
