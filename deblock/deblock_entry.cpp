// The plug-in's one export.
#include "deblock/deblock.h"

AUF_EXPORT host::FilterTable* AUF_CDECL GetFilterTable() { return deblock::DeblockFilterTable(); }
