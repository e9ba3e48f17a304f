#include "effect_driver.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "common/wheel_ids.h"
#include "ffdriver/effect_math.h"
#include "ffdriver/effect_store.h"
#include "ffdriver/motor_report.h"

namespace dravik {

namespace {

bool ValidDevice(DWORD dwID) {
    return dwID < kDeviceCount;
}
bool ValidHandle(DWORD dwEffect) {
    return dwEffect >= 1 && dwEffect <= kSlotCount;
}

// The named event, waited for with a bounded time-out and given back whatever the wait gave.
class StoreEventHold {
  public:
    explicit StoreEventHold(wheel::StoreLock* lock) : lock_(lock) {
        if (lock_ != nullptr) {
            lock_->Wait(kStoreWaitMs);
        }
    }
    ~StoreEventHold() {
        if (lock_ != nullptr) {
            lock_->Signal();
        }
    }
    StoreEventHold(const StoreEventHold&) = delete;
    StoreEventHold& operator=(const StoreEventHold&) = delete;

  private:
    wheel::StoreLock* lock_;
};

void ResetRecord(DeviceRecord& record) {
    record.bound = 0;
    record.hDevice = nullptr;
    record.externalId = -1;
    record.reportId = 0;
    record.gain = 10000;
    record.amplify = 1000;
    record.levelA = 0;
    record.levelB = 0;
    for (EffectSlot& slot : record.effects) {
        ClearSlot(slot);
    }
}

}  // namespace

EffectDriver* EffectDriver::Create(const DriverServices& services) noexcept {
    std::unique_ptr<DeviceRecord[]> devices(new (std::nothrow) DeviceRecord[kDeviceCount]);
    if (!devices) {
        return nullptr;
    }
    std::memset(static_cast<void*>(devices.get()), 0, sizeof(DeviceRecord) * kDeviceCount);
    auto* driver = new (std::nothrow) EffectDriver(services);
    if (driver == nullptr) {
        return nullptr;
    }
    driver->devices_ = std::move(devices);
    return driver;
}

EffectDriver::EffectDriver(const DriverServices& services) : services_(services) {
    if (services_.moduleCount != nullptr) {
        services_.moduleCount->Add();
    }
}

EffectDriver::~EffectDriver() {
    if (devices_) {
        for (uint32_t i = 0; i < kDeviceCount; ++i) {
            for (EffectSlot& slot : devices_[i].effects) {
                ClearSlot(slot);
            }
        }
    }
}

HRESULT EffectDriver::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDirectInputEffectDriver) {
        *ppv = static_cast<IDirectInputEffectDriver*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG EffectDriver::AddRef() {
    return static_cast<ULONG>(refCount_.fetch_add(1) + 1);
}

bool EffectDriver::TryAddRef() {
    LONG count = refCount_.load();
    while (count > 0) {
        if (refCount_.compare_exchange_weak(count, count + 1)) {
            return true;
        }
    }
    return false;
}

ULONG EffectDriver::Release() {
    const LONG count = refCount_.fetch_sub(1) - 1;
    if (count != 0) {
        return static_cast<ULONG>(count);
    }
    if (link_) {
        std::lock_guard<std::mutex> guard(link_->mutex);
        if (link_->driver == this) {
            link_->driver = nullptr;
        }
    }
    ShutdownDriver();
    // The module may unload once the count drops: nothing of this object may still run then.
    wheel::ModuleCount* moduleCount = services_.moduleCount;
    delete this;
    if (moduleCount != nullptr) {
        moduleCount->Drop();
    }
    return 0;
}

void EffectDriver::AttachLink(std::shared_ptr<DriverLink> link) {
    link_ = std::move(link);
}

HRESULT EffectDriver::InitDriver() {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    for (uint32_t i = 0; i < kDeviceCount; ++i) {
        ResetRecord(devices_[i]);
    }
    for (uint32_t type = 0; type < kEffectTypeCount; ++type) {
        if (!ReadEffectAttributes(*services_.registry, type, &effectTypes_[type])) {
            return E_FAIL;
        }
    }
    return S_OK;
}

void EffectDriver::OpenRecordLocked(DeviceRecord& record) {
    record.hDevice = services_.link->Open(record.devicePath);
}

HRESULT EffectDriver::DeviceID(DWORD dwDirectInputVersion, DWORD dwExternalID, DWORD /*fBegin*/,
                               DWORD /*dwInternalId*/, LPVOID /*lpReserved*/) {
    if (!ValidDevice(dwExternalID)) {
        return E_INVALIDARG;
    }
    if (dwDirectInputVersion < 0x0700) {
        return DIERR_OLDDIRECTINPUTVERSION;
    }
    // The search talks to DirectInput and SetupAPI; it runs without the lock, and only the
    // found path is published under it.
    char path[kDevicePathSize];
    services_.link->FindDevicePath(dwExternalID, path, sizeof path);
    path[kDevicePathSize - 1] = '\0';

    std::lock_guard<std::recursive_mutex> guard(mutex_);
    DeviceRecord& record = devices_[dwExternalID];
    // A bound wheel that is unplugged at this moment is not found; keeping its path lets the
    // tick reopen it once it is back, as it would without this call.
    if (path[0] != '\0' || record.bound == 0) {
        std::memcpy(record.devicePath, path, sizeof path);
    }
    if (wheel::IsOpenHandle(record.hDevice)) {
        services_.link->Close(record.hDevice);
        record.hDevice = nullptr;
    }
    OpenRecordLocked(record);
    if (!wheel::IsOpenHandle(record.hDevice)) {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    }
    record.reportId = services_.link->ReportId(record.hDevice);
    if (timerId_ == 0) {
        timerId_ = services_.timer->Start(kTickPeriodMs, kTimerResolutionMs, &TimerProc, this);
    }
    record.externalId = static_cast<int32_t>(dwExternalID);
    record.bound = 1;
    return S_OK;
}

HRESULT EffectDriver::SendMotorReportLocked(DeviceRecord& record) {
    if (record.bound == 0 || !wheel::IsOpenHandle(record.hDevice)) {
        return E_FAIL;
    }
    record.levelA = ClampLevel(record.levelA);
    record.levelB = ClampLevel(record.levelB);
    const auto report = BuildMotorReport(record.reportId, record.levelA, record.levelB);
    if (!services_.link->SendFeature(record.hDevice, report.data(),
                                     static_cast<uint32_t>(report.size()))) {
        // The wheel is gone: close now, the tick reopens the same path.
        services_.link->Close(record.hDevice);
        record.hDevice = nullptr;
    } else if (services_.reports != nullptr) {
        services_.reports->Sent(record.devicePath, services_.clock->TickCount());
    }
    return S_OK;
}

HRESULT EffectDriver::SendMotorReport(DWORD dwID) {
    if (!ValidDevice(dwID)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return SendMotorReportLocked(devices_[dwID]);
}

void EffectDriver::TimerProc(void* user) {
    static_cast<EffectDriver*>(user)->TimerTick();
}

bool EffectDriver::NoteLostLocked(uint32_t index, uint32_t now) {
    LostDevice& lost = lost_[index];
    if (!lost.lost) {
        lost = {true, false, now, 0};
        return false;
    }
    // One search at a time: the next is due a second after the last one that started.
    if (search_ || now - lost.since < kLostSearchMs ||
        (lost.searched && now - lost.lastSearch < kLostSearchMs)) {
        return false;
    }
    lost.searched = true;
    lost.lastSearch = now;
    return true;
}

void EffectDriver::RunLostSearch(void* user) {
    // The thread's own reference: the search lives until this ends, whatever the driver does.
    std::unique_ptr<std::shared_ptr<LostSearch>> owner(
        static_cast<std::shared_ptr<LostSearch>*>(user));
    LostSearch& search = **owner;
    for (uint32_t i = 0; i < kDeviceCount; ++i) {
        if (!search.due[i] || search.cancelled.load()) {
            continue;
        }
        char* path = search.paths[i];
        search.link->FindDevicePath(i, path, kDevicePathSize);
        path[kDevicePathSize - 1] = '\0';
        // Another device may have taken the joystick ID while the wheel was out: the wheel is
        // then looked for by its own IDs.
        if (path[0] == '\0' && !search.cancelled.load()) {
            search.link->FindWheelPath(path, kDevicePathSize);
            path[kDevicePathSize - 1] = '\0';
        }
    }
    search.finished.store(true);
}

void EffectDriver::StartLostSearch(const bool (&due)[kDeviceCount]) {
    // Out of memory, the search waits for the next second.
    std::shared_ptr<LostSearch> search;
    try {
        search = std::make_shared<LostSearch>();
    } catch (...) {
        return;
    }
    auto* reference = new (std::nothrow) std::shared_ptr<LostSearch>(search);
    if (reference == nullptr) {
        return;
    }
    search->link = services_.link;
    std::memcpy(search->due, due, sizeof due);
    {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        if (search_) {
            delete reference;
            return;
        }
        search_ = search;
    }
    // DirectInput and SetupAPI are slow next to a tick and may wait on locks of the program's
    // own threads: the search runs elsewhere, holding neither the store event nor the object.
    if (!services_.work->Run(&RunLostSearch, reference)) {
        delete reference;
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        search_.reset();
    }
}

void EffectDriver::TakeSearchResultsLocked() {
    if (!search_ || !search_->finished.load()) {
        return;
    }
    const std::shared_ptr<LostSearch> search = std::move(search_);
    search_.reset();
    for (uint32_t i = 0; i < kDeviceCount; ++i) {
        const char* path = search->paths[i];
        DeviceRecord& record = devices_[i];
        // Nothing found, bound again meanwhile by DeviceID, or back at its old path.
        if (!search->due[i] || path[0] == '\0' || record.bound == 0 ||
            wheel::IsOpenHandle(record.hDevice)) {
            continue;
        }
        std::memcpy(record.devicePath, path, kDevicePathSize);
        OpenRecordLocked(record);
        if (wheel::IsOpenHandle(record.hDevice)) {
            record.reportId = services_.link->ReportId(record.hDevice);
            lost_[i].lost = false;
        }
    }
}

void EffectDriver::TimerTick() {
    bool searchDue[kDeviceCount] = {};
    bool anyDue = false;
    {
        StoreEventHold event(services_.storeLock);
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        TakeSearchResultsLocked();
        TickLocked(searchDue, &anyDue);
    }
    if (anyDue && services_.work != nullptr) {
        StartLostSearch(searchDue);
    }
}

void EffectDriver::TickLocked(bool (&searchDue)[kDeviceCount], bool* anyDue) {
    EffectMath math;
    for (uint32_t i = 0; i < kDeviceCount; ++i) {
        DeviceRecord& record = devices_[i];
        if (record.bound == 0) {
            continue;
        }
        if (!wheel::IsOpenHandle(record.hDevice)) {
            OpenRecordLocked(record);
            if (!wheel::IsOpenHandle(record.hDevice)) {
                // Unplugged, or plugged back into another port under a new path.
                searchDue[i] = NoteLostLocked(i, services_.clock->TickCount());
                *anyDue = *anyDue || searchDue[i];
                continue;
            }
        }
        lost_[i].lost = false;
        // Summed in 64 bits and saturated, so many strong effects cannot wrap around.
        int64_t levelA = 0;
        int64_t levelB = 0;
        const LevelInputs inputs{record.gain, record.amplify};
        for (EffectSlot& slot : record.effects) {
            if (slot.inUse == 0 || slot.playState != StatePlaying) {
                continue;
            }
            if (!AdvanceEffectTime(slot, services_.clock->TickCount())) {
                continue;
            }
            AxisLevels levels;
            if (FAILED(math.ComputeEffectOutput(slot, inputs, &levels))) {
                continue;
            }
            if (levels.count == 1) {
                levelA += levels.levels[0];
                levelB += levels.levels[0];
            } else if (levels.count == 2) {
                levelA += levels.levels[0];
                levelB += levels.levels[1];
            }
        }
        record.levelA = SaturateLevel(levelA);
        record.levelB = SaturateLevel(levelB);
        SendMotorReportLocked(record);
    }
}

HRESULT EffectDriver::GetVersions(LPDIDRIVERVERSIONS pvers) {
    if (pvers == nullptr || pvers->dwSize != sizeof(DIDRIVERVERSIONS)) {
        return E_INVALIDARG;
    }
    pvers->dwFirmwareRevision = 1;
    pvers->dwHardwareRevision = 1;
    pvers->dwFFDriverVersion = 2;
    return S_OK;
}

HRESULT EffectDriver::Escape(DWORD dwID, DWORD dwEffect, LPDIEFFESCAPE pesc) {
    if (!ValidDevice(dwID) || dwEffect > kSlotCount || pesc == nullptr) {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT EffectDriver::SetGain(DWORD dwID, DWORD dwGain) {
    if (!ValidDevice(dwID) || dwGain > 10000) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    devices_[dwID].gain = dwGain;
    return S_OK;
}

HRESULT EffectDriver::GetForceFeedbackState(DWORD dwID, LPDIDEVICESTATE pds) {
    if (!ValidDevice(dwID) || pds == nullptr) {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT EffectDriver::SendForceFeedbackCommand(DWORD dwID, DWORD dwCommand) {
    if (!ValidDevice(dwID)) {
        return E_INVALIDARG;
    }
    switch (dwCommand) {
        case DISFFC_RESET:
        case DISFFC_STOPALL: {
            bool inUse[kSlotCount];
            {
                std::lock_guard<std::recursive_mutex> guard(mutex_);
                for (uint32_t k = 0; k < kSlotCount; ++k) {
                    inUse[k] = devices_[dwID].effects[k].inUse != 0;
                }
            }
            for (DWORD k = 0; k < kSlotCount; ++k) {
                if (!inUse[k]) {
                    continue;
                }
                if (dwCommand == DISFFC_RESET) {
                    DestroyEffect(dwID, k + 1);
                } else {
                    StopEffect(dwID, k + 1);
                }
            }
            return S_OK;
        }
        case DISFFC_PAUSE:
        case DISFFC_CONTINUE:
        case DISFFC_SETACTUATORSON:
        case DISFFC_SETACTUATORSOFF:
            return S_OK;
        default:
            return E_NOTIMPL;
    }
}

HRESULT EffectDriver::DownloadEffect(DWORD dwID, DWORD dwInternalEffectType, LPDWORD pdwEffect,
                                     LPCDIEFFECT peff, DWORD dwFlags) {
    if (!ValidDevice(dwID) || dwInternalEffectType >= kEffectTypeCount || pdwEffect == nullptr ||
        peff == nullptr || *pdwEffect > kSlotCount || !ConsistentEffect(*peff)) {
        return E_INVALIDARG;
    }
    if ((dwFlags & DIEP_NODOWNLOAD) != 0) {
        return S_OK;
    }
    HRESULT copied = S_OK;
    {
        StoreEventHold event(services_.storeLock);
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        DeviceRecord& record = devices_[dwID];
        // The free slot is chosen under the same lock that fills it, so two downloads never
        // share one.
        uint32_t k = 0;
        if (*pdwEffect == 0) {
            const int free = FindFreeSlot(record);
            if (free < 0) {
                return E_FAIL;
            }
            k = static_cast<uint32_t>(free);
            copied = InitEffectParams(record.effects[k], *peff);
            record.effects[k].inUse = 1;
        } else {
            k = *pdwEffect - 1;
            copied = CopyEffectParams(record.effects[k], *peff, dwFlags);
        }
        EffectSlot& slot = record.effects[k];
        slot.effectType = dwInternalEffectType;
        if (FAILED(copied)) {
            // The slot is free again; what was copied is released, not left behind. Its play
            // state is not the copy's to change.
            ReleaseEffectParams(slot);
            slot.inUse = 0;
            *pdwEffect = 0;
            return copied;
        }
        *pdwEffect = k + 1;
    }
    if ((dwFlags & DIEP_START) != 0) {
        return StartEffect(dwID, *pdwEffect, 0, 1);
    }
    return S_OK;
}

HRESULT EffectDriver::DestroyEffect(DWORD dwID, DWORD dwEffect) {
    if (!ValidDevice(dwID) || !ValidHandle(dwEffect)) {
        return E_INVALIDARG;
    }
    StoreEventHold event(services_.storeLock);
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    StopEffect(dwID, dwEffect);
    ClearSlot(devices_[dwID].effects[dwEffect - 1]);
    return S_OK;
}

void EffectDriver::ReadAmplify(DeviceRecord& record) {
    const wheel::OsClass os = services_.osClass ? services_.osClass() : wheel::OsUnknown;
    HKEY raw = nullptr;
    if (services_.registry->OpenKey(wheel::AmplifyRoot(os), wheel::OemKeyText().c_str(), &raw) !=
        ERROR_SUCCESS) {
        return;
    }
    wheel::RegKey key(*services_.registry, raw);
    uint32_t value = 0;
    if (wheel::ReadRegistryValue(*services_.registry, key.get(), "Amplify", &value) ==
        ERROR_SUCCESS) {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        record.amplify = value;
    }
}

HRESULT EffectDriver::StartEffect(DWORD dwID, DWORD dwEffect, DWORD dwMode, DWORD dwCount) {
    if (!ValidDevice(dwID) || !ValidHandle(dwEffect)) {
        return E_INVALIDARG;
    }
    DeviceRecord& record = devices_[dwID];
    ReadAmplify(record);
    const uint32_t now = services_.clock->TickCount();
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (dwMode == DIES_SOLO) {
        for (EffectSlot& slot : record.effects) {
            slot.playState = StateStopped;
        }
    }
    EffectSlot& slot = record.effects[dwEffect - 1];
    slot.playState = StatePlaying;
    slot.startTick = now;
    slot.iterationsLeft = dwCount;
    slot.elapsedMs = 0;
    return S_OK;
}

HRESULT EffectDriver::StopEffect(DWORD dwID, DWORD dwEffect) {
    if (!ValidDevice(dwID) || !ValidHandle(dwEffect)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    DeviceRecord& record = devices_[dwID];
    record.levelA = 0;
    record.levelB = 0;
    SendMotorReportLocked(record);
    record.effects[dwEffect - 1].playState = StateStopped;
    return S_OK;
}

HRESULT EffectDriver::GetEffectStatus(DWORD dwID, DWORD dwEffect, LPDWORD pdwStatus) {
    if (!ValidDevice(dwID) || !ValidHandle(dwEffect) || pdwStatus == nullptr) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    *pdwStatus =
        devices_[dwID].effects[dwEffect - 1].playState == StatePlaying ? DIEGES_PLAYING : 0;
    return S_OK;
}

void EffectDriver::ShutdownDriver() {
    if (services_.sleep) {
        services_.sleep(100);
    }
    uint32_t timerId = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        timerId = timerId_;
        timerId_ = 0;
    }
    // Kill returns only when no tick is running or can start, so nothing touches the object
    // after this point but this thread.
    if (timerId != 0) {
        services_.timer->Kill(timerId);
    }
    // A search in flight is told to stop and left to end by itself: waiting for it could wait
    // on a lock the releasing thread holds. It touches nothing of this object.
    {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        if (search_) {
            search_->cancelled.store(true);
            search_.reset();
        }
    }
    for (DWORD i = 0; i < kDeviceCount; ++i) {
        for (DWORD k = 0; k < kSlotCount; ++k) {
            {
                std::lock_guard<std::recursive_mutex> guard(mutex_);
                if (devices_[i].effects[k].inUse != 1) {
                    continue;
                }
            }
            StoreEventHold event(services_.storeLock);
            std::lock_guard<std::recursive_mutex> guard(mutex_);
            StopEffect(i, k + 1);
            ClearSlot(devices_[i].effects[k]);
        }
    }
    {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        for (uint32_t i = 0; i < kDeviceCount; ++i) {
            DeviceRecord& record = devices_[i];
            if (record.hDevice == nullptr) {
                continue;
            }
            record.levelA = 0;
            record.levelB = 0;
            if (record.bound != 0 && record.hDevice != INVALID_HANDLE_VALUE) {
                SendMotorReportLocked(record);
            }
            if (wheel::IsOpenHandle(record.hDevice)) {
                services_.link->Close(record.hDevice);
            }
            record.hDevice = nullptr;
        }
    }
}

DeviceRecord EffectDriver::CopyRecord(DWORD dwID) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    DeviceRecord copy;
    std::memcpy(static_cast<void*>(&copy), &devices_[dwID % kDeviceCount], sizeof copy);
    return copy;
}

uint32_t EffectDriver::TimerId() {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return timerId_;
}

DIEFFECTATTRIBUTES EffectDriver::EffectAttributes(uint32_t type) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return effectTypes_[type % kEffectTypeCount];
}

void EffectDriver::VisitSlot(DWORD dwID, DWORD dwEffect,
                             const std::function<void(const EffectSlot&)>& visit) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    visit(devices_[dwID % kDeviceCount].effects[(dwEffect - 1) % kSlotCount]);
}

}  // namespace dravik
