// The plug-in's one export.
#include "velour/velour.h"

AUF_EXPORT host::FilterTable* AUF_CDECL GetFilterTable() { return velour::VelourFilterTable(); }
