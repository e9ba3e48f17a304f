// The class factory, DllGetClassObject's rules and the module count DllCanUnloadNow reads.
#include <gtest/gtest.h>

#include "driver_fixture.h"
#include "ffdriver/driver_factory.h"

namespace {

using drivertest::DriverRig;

class DriverFactoryTest : public ::testing::Test, protected DriverRig {
  protected:
    void SetUp() override { ASSERT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS); }

    IClassFactory* NewFactory() {
        void* out = nullptr;
        EXPECT_EQ(
            dravik::GetDriverClassObject(services, wheel::kDravikClsid, IID_IClassFactory, &out),
            S_OK);
        return static_cast<IClassFactory*>(out);
    }

    // Creates an object and hands back its driver interface.
    dravik::EffectDriver* NewDriver(IClassFactory* factory) {
        void* out = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver, &out), S_OK);
        return static_cast<dravik::EffectDriver*>(static_cast<IDirectInputEffectDriver*>(out));
    }

    // A pointer that is not null, so the tests see that a failure clears it.
    static void* Garbage() { return reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A50)); }

    HRESULT CanUnload() const { return dravik::CanUnloadNow(moduleCount); }
};

TEST_F(DriverFactoryTest, ClassObjectOnlyForTheDriverClsidAndIClassFactory) {
    struct Row {
        const char* what;
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    };
    const Row rows[] = {
        {"IUnknown is refused", &wheel::kDravikClsid, &IID_IUnknown, E_NOINTERFACE},
        {"the driver's interface is not a factory's", &wheel::kDravikClsid,
         &IID_IDirectInputEffectDriver, E_NOINTERFACE},
        {"another class", &wheel::kVelquinClsid, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"another class and IUnknown", &wheel::kVelquinClsid, &IID_IUnknown,
         CLASS_E_CLASSNOTAVAILABLE},
        {"an interface ID as class", &IID_IClassFactory, &IID_IClassFactory,
         CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const Row& row : rows) {
        void* out = Garbage();
        EXPECT_EQ(dravik::GetDriverClassObject(services, *row.clsid, *row.iid, &out), row.expected)
            << row.what;
        EXPECT_EQ(out, nullptr) << row.what;
        EXPECT_EQ(moduleCount.Value(), 0) << row.what << ": no factory left behind";
    }

    void* out = nullptr;
    ASSERT_EQ(dravik::GetDriverClassObject(services, wheel::kDravikClsid, IID_IClassFactory, &out),
              S_OK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(moduleCount.Value(), 1);
    auto* factory = static_cast<IClassFactory*>(out);
    EXPECT_EQ(factory->AddRef(), 2u) << "the caller held the only reference";
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
}

TEST_F(DriverFactoryTest, FactoryAnswersIUnknownAndIClassFactoryOnly) {
    IClassFactory* factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    void* out = Garbage();
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(factory));
    out = Garbage();
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(factory));
    out = Garbage();
    EXPECT_EQ(factory->QueryInterface(IID_IDirectInputEffectDriver, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->Release(), 2u) << "two successful queries added two references";
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
}

TEST_F(DriverFactoryTest, SecondCreateInstanceHandsOutTheSameObjectWithOneMoreReference) {
    IClassFactory* factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    dravik::EffectDriver* first = NewDriver(factory);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(moduleCount.Value(), 2) << "factory and object";
    dravik::EffectDriver* second = NewDriver(factory);
    EXPECT_EQ(second, first);
    EXPECT_EQ(moduleCount.Value(), 2) << "no second object";
    EXPECT_EQ(first->AddRef(), 3u) << "one reference per CreateInstance";
    EXPECT_EQ(first->Release(), 2u);

    // Asked for IUnknown it is still the same object.
    void* unknown = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, static_cast<void*>(static_cast<IDirectInputEffectDriver*>(first)));
    EXPECT_EQ(first->Release(), 2u);

    EXPECT_EQ(second->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 1) << "the object is gone, the factory not";
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
}

TEST_F(DriverFactoryTest, AfterTheObjectDiesTheFactoryBuildsANewOne) {
    IClassFactory* factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    dravik::EffectDriver* old = NewDriver(factory);
    ASSERT_NE(old, nullptr);
    ASSERT_EQ(old->SetGain(3, 1234), S_OK);
    EXPECT_EQ(old->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 1);

    dravik::EffectDriver* fresh = NewDriver(factory);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(moduleCount.Value(), 2);
    EXPECT_EQ(fresh->CopyRecord(3).gain, 10000u) << "a new object, not the freed one";
    EXPECT_EQ(fresh->AddRef(), 2u);
    EXPECT_EQ(fresh->Release(), 1u);
    // The factory may go first; the object lives on and counts alone.
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 1);
    EXPECT_EQ(fresh->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
}

TEST_F(DriverFactoryTest, CreateInstanceFailuresLeaveNothingBehind) {
    IClassFactory* factory = NewFactory();
    ASSERT_NE(factory, nullptr);

    void* out = Garbage();
    EXPECT_EQ(factory->CreateInstance(factory, IID_IDirectInputEffectDriver, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(moduleCount.Value(), 1);

    // An interface the object does not have: the new object is destroyed again.
    out = Garbage();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(moduleCount.Value(), 1);

    // One effect type missing from the installation: the object cannot be made.
    const std::string sine =
        wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(3));
    registry.DeleteKey(HKEY_LOCAL_MACHINE, sine);
    out = Garbage();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(moduleCount.Value(), 1);
    EXPECT_EQ(registry.OpenHandles(), 0u) << "every key the attempt opened is closed";

    // Once the key is back the same factory succeeds.
    ASSERT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS);
    dravik::EffectDriver* driver = NewDriver(factory);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->EffectAttributes(3).dwEffectId, 3u);
    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
}

TEST_F(DriverFactoryTest, EveryMissingEffectTypeFailsTheCreation) {
    for (uint32_t type = 0; type < dravik::kEffectTypeCount; ++type) {
        ASSERT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS);
        const std::string key =
            wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(type));
        registry.DeleteValue(HKEY_LOCAL_MACHINE, key, "Attributes");
        IClassFactory* factory = NewFactory();
        ASSERT_NE(factory, nullptr);
        void* out = Garbage();
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver, &out), E_FAIL)
            << "type " << type;
        EXPECT_EQ(out, nullptr);
        factory->Release();
        EXPECT_EQ(moduleCount.Value(), 0) << "type " << type;
    }
}

TEST_F(DriverFactoryTest, CanUnloadNowFollowsFactoriesObjectsAndLocks) {
    EXPECT_EQ(CanUnload(), S_OK);
    IClassFactory* factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(CanUnload(), S_FALSE) << "a factory lives";
    dravik::EffectDriver* driver = NewDriver(factory);
    ASSERT_NE(driver, nullptr);
    factory->Release();
    EXPECT_EQ(CanUnload(), S_FALSE) << "an object lives";
    driver->Release();
    EXPECT_EQ(CanUnload(), S_OK);

    factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(CanUnload(), S_FALSE) << "locked";
    factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK) << "unmatched unlock still succeeds";
    factory->Release();
    EXPECT_EQ(moduleCount.Value(), -1);
    EXPECT_EQ(CanUnload(), S_FALSE) << "a negative count is not zero";
    factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(CanUnload(), S_OK);
}

TEST_F(DriverFactoryTest, DriverAnswersIUnknownAndItsOwnInterfaceOnly) {
    IClassFactory* factory = NewFactory();
    ASSERT_NE(factory, nullptr);
    dravik::EffectDriver* driver = NewDriver(factory);
    ASSERT_NE(driver, nullptr);
    factory->Release();
    void* out = Garbage();
    EXPECT_EQ(driver->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(driver->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(static_cast<IDirectInputEffectDriver*>(driver)));
    EXPECT_EQ(driver->Release(), 1u);
    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
}

}  // namespace
