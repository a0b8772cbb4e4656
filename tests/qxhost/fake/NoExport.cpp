// A library without the plug-in's export, for the host's load checks.
extern "C" __attribute__((visibility("default"))) int NotThePlugInEntry() { return 0; }
