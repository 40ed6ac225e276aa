extern "C" int __stdcall DllMain(void*, unsigned long, void*) { return 1; }
