// The classic editor's plug-in, deblock.auf: the core's filter record and processing function, one
// band of rows per editor worker thread.
#include "deblock/deblock.h"
#include "host/filter_record.h"

AUF_EDITOR_PLUGIN(deblock::kDeblockCore)
