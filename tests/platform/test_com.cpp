// The class loader: class ids as text, creating objects from the registered library on
// initialised threads only, and each broken class's failure code.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host/asio_driver.h"
#include "platform/com.h"
#include "tests/platform/plugins/test_plugins.h"
#include "test_support.h"

using testing_support::IsolatedScope;

namespace {

const char* kClassText = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

void RegisterClass(const IsolatedScope& scope, const std::string& library, const std::string& keyText = kClassText) {
    scope.WriteMachineHive("REGEDIT4\n[HKEY_CLASSES_ROOT\\clsid\\" + keyText + "\\InprocServer32]\n@=\"" + library +
                           "\"\n");
}

HRESULT Create(void** object) {
    CLSID clsid;
    CLSIDFromString(kClassText, &clsid);
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, object);
}

}  // namespace

TEST(Com, ClassIdsParseInEitherCaseAndPrintInUpperCase) {
    CLSID clsid, lower;
    ASSERT_EQ(CLSIDFromString(kClassText, &clsid), S_OK);
    ASSERT_EQ(CLSIDFromString("{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", &lower), S_OK);
    EXPECT_TRUE(lower == clsid && clsid.Data1 == 0x0A1B2C3Du && clsid.Data4[7] == 0xF9);
    char text[39];
    StringFromCLSID(lower, text);
    EXPECT_STREQ(text, kClassText);
    for (const char* bad : {"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}x",
                            "{0A1B2C3D-4E5F-6071-82G3-A4B5C6D7E8F9}"}) {
        EXPECT_EQ(CLSIDFromString(bad, &lower), CO_E_CLASSSTRING) << bad;
        EXPECT_TRUE(lower == CLSID{}) << bad;
    }
}

TEST(Com, CreatesObjectsOnInitialisedThreadsFromTheRegisteredLibrary) {
    IsolatedScope scope;
    std::string lowerText = kClassText;  // the registry key in lower case, the request in upper case
    for (char& c : lowerText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    RegisterClass(scope, PluginPath("fake_driver"), lowerText);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(Create(&object), CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);  // counted
    HRESULT otherThread = S_OK;
    std::thread([&] { otherThread = Create(&object); }).join();
    EXPECT_EQ(otherThread, CO_E_NOTINITIALIZED);
    CoUninitialize();  // still initialised once
    ASSERT_EQ(Create(&object), S_OK);
    EXPECT_EQ(LiveFakeObjects(), 1);  // made by the fake's factory, with one reference
    EXPECT_EQ(static_cast<IASIO*>(object)->Release(), 0u);
    EXPECT_EQ(LiveFakeObjects(), 0);  // the library stays loaded after its last object
    CoUninitialize();
    EXPECT_EQ(Create(&object), CO_E_NOTINITIALIZED);
}

TEST(Com, BrokenClassesFailWithTheirCodes) {
    IsolatedScope scope;
    testing_support::WriteFile(scope.workDir() / "text.so", "this is not a shared object\n");
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    const struct {
        std::string library;
        HRESULT expected;
    } cases[] = {
        {PluginPath("fake_failing_driver"), E_OUTOFMEMORY},  // the factory's own code
        {PluginPath("fake_no_entry"), CO_E_ERRORINDLL},
        {(scope.workDir() / "text.so").string(), CO_E_DLLNOTFOUND},
        {(scope.workDir() / "missing.so").string(), CO_E_DLLNOTFOUND},
        {"", CO_E_DLLNOTFOUND},
    };
    for (const auto& c : cases) {
        RegisterClass(scope, c.library);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(Create(&object), c.expected) << c.library;
        EXPECT_EQ(object, nullptr) << c.library;
        if (c.library.empty()) continue;
        EXPECT_EQ(CoCheckServerLibrary(c.library.c_str()), c.expected == E_OUTOFMEMORY ? S_OK : c.expected);
    }
    // Registered without a library key.
    scope.WriteMachineHive("REGEDIT4\n[HKEY_CLASSES_ROOT\\clsid\\" + std::string(kClassText) + "]\n");
    void* object = nullptr;
    EXPECT_EQ(Create(&object), REGDB_E_CLASSNOTREG);
    CoUninitialize();
}
