// Where the test plug-ins are built, and how many objects the fake driver has alive.
#pragma once

#include <dlfcn.h>

#include <string>

inline std::string PluginPath(const char* name) { return std::string(BELLWAVE_TEST_PLUGIN_DIR) + "/" + name + ".so"; }

// -1 when the fake driver is not loaded.
inline int LiveFakeObjects() {
    void* library = dlopen(PluginPath("fake_driver").c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto count = library ? reinterpret_cast<int (*)()>(dlsym(library, "FakeLiveObjects")) : nullptr;
    const int live = count ? count() : -1;
    if (library) dlclose(library);
    return live;
}
