// A shared library without the module entry point, for the loader's error test.
extern "C" __attribute__((visibility("default"))) int not_an_entry_point() { return 0; }
