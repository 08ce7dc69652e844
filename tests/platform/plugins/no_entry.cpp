// A shared object that loads but exports no DllGetClassObject.
extern "C" __attribute__((visibility("default"))) int NotAClassFactory() {
    return 7;
}
