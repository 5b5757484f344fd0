// A filter plug-in that leaves every frame as it is: aufhost running it costs what the tool itself
// costs, reading, converting and writing.
#include "host/host_abi.h"

namespace {

int AUF_CDECL LeaveAsIs(host::FilterTable*, host::FrameInfo*) { return 1; }

host::FilterTable MakeTable() {
  host::FilterTable t{};
  t.flags = host::kFilterFlags;
  t.name = "identity";
  t.process = LeaveAsIs;
  return t;
}

host::FilterTable g_table = MakeTable();

}  // namespace

AUF_EXPORT host::FilterTable* AUF_CDECL GetFilterTable() { return &g_table; }
