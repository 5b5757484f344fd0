// The classic editor's plug-in, velour.auf: the core's filter record and processing function, the
// passes following the editor's worker thread count.
#include "host/filter_record.h"
#include "velour/velour.h"

AUF_EDITOR_PLUGIN(velour::kVelourCore)
