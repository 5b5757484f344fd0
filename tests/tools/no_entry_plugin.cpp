// Loads like a plug-in but has no GetFilterTable.
extern "C" __attribute__((visibility("default"))) int NotAFilter() { return 0; }
