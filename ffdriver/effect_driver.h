// EffectDriver: the object DirectInput talks to for the wheel. It keeps one DeviceRecord per
// external device ID, binds records to the wheel's HID interface, stores effects in 32 slots per
// record, and every 25 ms mixes the playing ones into two motor levels sent to the wheel.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "common/os_class.h"
#include "common/platform.h"
#include "common/registry.h"
#include "common/services.h"
#include "ffdriver/effect_types.h"

namespace dravik {

// Everything the driver needs from the platform.
struct DriverServices {
    wheel::RegistryApi* registry = nullptr;
    wheel::Clock* clock = nullptr;
    wheel::PeriodicTimer* timer = nullptr;
    wheel::StoreLock* storeLock = nullptr;
    wheel::DeviceLink* link = nullptr;
    wheel::ModuleCount* moduleCount = nullptr;
    // Where the search for a lost wheel runs; none: a wheel back under another path waits for
    // the next DeviceID.
    wheel::BackgroundWork* work = nullptr;
    // Told of every report delivered; none: nobody is told.
    wheel::ReportSink* reports = nullptr;
    std::function<wheel::OsClass()> osClass;
    // Sleep(ms) before teardown; tests pass one that does not wait.
    std::function<void(uint32_t)> sleep;
};

inline constexpr size_t kDevicePathSize = 1024;
inline constexpr uint32_t kTickPeriodMs = 25;
inline constexpr uint32_t kTimerResolutionMs = 100;
inline constexpr uint32_t kStoreWaitMs = 100;
// A wheel whose path stays unopenable this long may be back under another path (another USB
// port): the tick searches for it again, no more often than this.
inline constexpr uint32_t kLostSearchMs = 1000;

struct DeviceRecord {
    uint32_t bound;
    HANDLE hDevice;
    int32_t externalId;
    uint8_t reportId;
    uint32_t gain;
    uint32_t amplify;
    int32_t levelA;
    int32_t levelB;
    char devicePath[kDevicePathSize];
    EffectSlot effects[kSlotCount];
};

class EffectDriver;

// One search for lost wheels, shared by the driver and the thread that runs it. It holds no
// pointer to the driver, so the driver can go away while it runs; the next tick takes its
// results.
struct LostSearch {
    wheel::DeviceLink* link = nullptr;
    bool due[kDeviceCount] = {};
    char paths[kDeviceCount][kDevicePathSize] = {};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
};

// The factory's weak reference to the driver it created: the driver clears it when it dies, so
// the factory never uses a freed object.
struct DriverLink {
    std::mutex mutex;
    EffectDriver* driver = nullptr;
};

class EffectDriver final : public IDirectInputEffectDriver {
  public:
    // refCount 1, module count + 1; null when memory runs out.
    static EffectDriver* Create(const DriverServices& services) noexcept;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDirectInputEffectDriver
    HRESULT STDMETHODCALLTYPE DeviceID(DWORD dwDirectInputVersion, DWORD dwExternalID, DWORD fBegin,
                                       DWORD dwInternalId, LPVOID lpReserved) override;
    HRESULT STDMETHODCALLTYPE GetVersions(LPDIDRIVERVERSIONS pvers) override;
    HRESULT STDMETHODCALLTYPE Escape(DWORD dwID, DWORD dwEffect, LPDIEFFESCAPE pesc) override;
    HRESULT STDMETHODCALLTYPE SetGain(DWORD dwID, DWORD dwGain) override;
    HRESULT STDMETHODCALLTYPE SendForceFeedbackCommand(DWORD dwID, DWORD dwCommand) override;
    HRESULT STDMETHODCALLTYPE GetForceFeedbackState(DWORD dwID, LPDIDEVICESTATE pds) override;
    HRESULT STDMETHODCALLTYPE DownloadEffect(DWORD dwID, DWORD dwInternalEffectType,
                                             LPDWORD pdwEffect, LPCDIEFFECT peff,
                                             DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE DestroyEffect(DWORD dwID, DWORD dwEffect) override;
    HRESULT STDMETHODCALLTYPE StartEffect(DWORD dwID, DWORD dwEffect, DWORD dwMode,
                                          DWORD dwCount) override;
    HRESULT STDMETHODCALLTYPE StopEffect(DWORD dwID, DWORD dwEffect) override;
    HRESULT STDMETHODCALLTYPE GetEffectStatus(DWORD dwID, DWORD dwEffect,
                                              LPDWORD pdwStatus) override;

    // Resets the records and reads the twelve effect types; E_FAIL when one cannot be read.
    HRESULT InitDriver();
    // One 25 ms tick: every bound record gets its levels recomputed and a report.
    void TimerTick();
    // Clamps the record's levels and sends them; E_FAIL for an unbound or closed record.
    HRESULT SendMotorReport(DWORD dwID);

    // Increments the count unless it already reached 0 (the object is being destroyed).
    bool TryAddRef();
    void AttachLink(std::shared_ptr<DriverLink> link);

    // Inspection for tests and tools: a copy of a record (slots' buffers are not copied) and
    // the state of the timer, taken under the object's lock.
    DeviceRecord CopyRecord(DWORD dwID);
    uint32_t TimerId();
    DIEFFECTATTRIBUTES EffectAttributes(uint32_t type);
    // Runs `visit` on one slot under the lock.
    void VisitSlot(DWORD dwID, DWORD dwEffect, const std::function<void(const EffectSlot&)>& visit);

  private:
    explicit EffectDriver(const DriverServices& services);
    ~EffectDriver();
    EffectDriver(const EffectDriver&) = delete;
    EffectDriver& operator=(const EffectDriver&) = delete;

    static void TimerProc(void* user);
    void ShutdownDriver();
    // A bound record whose path could not be reopened on this tick; true when a search for the
    // wheel is due. The lock is held.
    bool NoteLostLocked(uint32_t index, uint32_t now);
    // The tick's work under the store event and the lock; marks the records due for a search.
    void TickLocked(bool (&searchDue)[kDeviceCount], bool* anyDue);
    // Binds the paths a finished search found; the lock is held.
    void TakeSearchResultsLocked();
    // Hands a search for each wheel in `due` to the background work.
    void StartLostSearch(const bool (&due)[kDeviceCount]);
    static void RunLostSearch(void* user);
    // Opens the record's path with the link; the lock is held.
    void OpenRecordLocked(DeviceRecord& record);
    HRESULT SendMotorReportLocked(DeviceRecord& record);
    void ReadAmplify(DeviceRecord& record);

    DriverServices services_;
    std::atomic<LONG> refCount_{1};
    // Guards every record, slot and handle, and the timer ID. Recursive because DestroyEffect
    // and ShutdownDriver call StopEffect through the interface while they hold it.
    std::recursive_mutex mutex_;
    std::unique_ptr<DeviceRecord[]> devices_;
    DIEFFECTATTRIBUTES effectTypes_[kEffectTypeCount] = {};
    uint32_t timerId_ = 0;
    std::shared_ptr<DriverLink> link_;
    // Per record: since when its path has been unopenable, and when the tick last searched.
    struct LostDevice {
        bool lost;
        bool searched;
        uint32_t since;
        uint32_t lastSearch;
    };
    LostDevice lost_[kDeviceCount] = {};
    // The search in flight, if any.
    std::shared_ptr<LostSearch> search_;
};

}  // namespace dravik
