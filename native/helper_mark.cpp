// Linked into kal_helper only: the mark by which libkal_drv.so, loaded there,
// knows it is the helper's driver and runs the engine itself.
extern "C" __attribute__((visibility("default"), used)) const int kal_isolation_helper = 1;
