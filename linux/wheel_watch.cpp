#include "wheel_watch.h"

#include <libudev.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/wheel_ids.h"

namespace rumble {

namespace {

// Owns one libudev object of any kind.
template <typename T, T* (*Unref)(T*)>
struct Ref {
    T* p;
    explicit Ref(T* object) : p(object) {}
    ~Ref() {
        if (p != nullptr) {
            Unref(p);
        }
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
};
using DeviceRef = Ref<udev_device, udev_device_unref>;
using EnumerateRef = Ref<udev_enumerate, udev_enumerate_unref>;

std::string Text(const char* s) {
    return s != nullptr ? s : "";
}

// The input device's event node under a HID device, and the input device's name.
void FindEventNode(struct udev* udev, udev_device* hid, WheelNodes* nodes) {
    EnumerateRef inputs(udev_enumerate_new(udev));
    if (inputs.p == nullptr) {
        return;
    }
    udev_enumerate_add_match_subsystem(inputs.p, "input");
    udev_enumerate_add_match_parent(inputs.p, hid);
    udev_enumerate_scan_devices(inputs.p);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(inputs.p)) {
        DeviceRef device(udev_device_new_from_syspath(udev, udev_list_entry_get_name(entry)));
        if (device.p == nullptr) {
            continue;
        }
        const std::string sysname = Text(udev_device_get_sysname(device.p));
        const char* node = udev_device_get_devnode(device.p);
        if (sysname.rfind("event", 0) != 0 || node == nullptr) {
            continue;
        }
        nodes->event = node;
        udev_device* input =
            udev_device_get_parent_with_subsystem_devtype(device.p, "input", nullptr);
        if (input != nullptr) {
            nodes->name = Text(udev_device_get_sysattr_value(input, "name"));
        }
        return;
    }
}

}  // namespace

bool IsWheelHidName(const std::string& sysname) {
    unsigned bus = 0;
    unsigned vendor = 0;
    unsigned product = 0;
    unsigned instance = 0;
    char tail = 0;
    return std::sscanf(sysname.c_str(), "%4x:%4x:%4x.%4x%c", &bus, &vendor, &product, &instance,
                       &tail) == 4 &&
           vendor == wheel::kVendorId && product == wheel::kProductId;
}

WheelWatch::~WheelWatch() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (udev_ != nullptr) {
        udev_unref(udev_);
    }
}

bool WheelWatch::Open(std::string* error) {
    udev_ = udev_new();
    if (udev_ == nullptr) {
        *error = "libudev cannot be initialised";
        return false;
    }
    // udevd announces itself with its control socket; without it, its events never come.
    kernelSource_ = access("/run/udev/control", F_OK) != 0;
    monitor_ = udev_monitor_new_from_netlink(udev_, kernelSource_ ? "kernel" : "udev");
    if (monitor_ == nullptr) {
        *error = std::string("cannot listen for device events from ") + Source();
        return false;
    }
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
        *error = std::string("cannot listen for device events from ") + Source();
        return false;
    }
    return true;
}

int WheelWatch::Fd() const {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

bool WheelWatch::Receive() {
    bool wheel = false;
    for (;;) {
        DeviceRef device(udev_monitor_receive_device(monitor_));
        if (device.p == nullptr) {
            return wheel;
        }
        // The HID device's name is in the path of its hidraw and input children, which is all a
        // removal still has.
        const std::string path = Text(udev_device_get_devpath(device.p));
        size_t start = 0;
        while (start < path.size()) {
            size_t end = path.find('/', start);
            if (end == std::string::npos) {
                end = path.size();
            }
            wheel = wheel || IsWheelHidName(path.substr(start, end - start));
            start = end + 1;
        }
    }
}

std::vector<WheelNodes> WheelWatch::Wheels() const {
    std::vector<WheelNodes> wheels;
    EnumerateRef hidraws(udev_enumerate_new(udev_));
    if (hidraws.p == nullptr) {
        return wheels;
    }
    udev_enumerate_add_match_subsystem(hidraws.p, "hidraw");
    udev_enumerate_scan_devices(hidraws.p);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(hidraws.p)) {
        DeviceRef hidraw(udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry)));
        if (hidraw.p == nullptr || udev_device_get_devnode(hidraw.p) == nullptr) {
            continue;
        }
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw.p, "hid", nullptr);
        if (hid == nullptr || !IsWheelHidName(Text(udev_device_get_sysname(hid)))) {
            continue;
        }
        WheelNodes nodes;
        nodes.hidSyspath = Text(udev_device_get_syspath(hid));
        nodes.hidraw = udev_device_get_devnode(hidraw.p);
        FindEventNode(udev_, hid, &nodes);
        if (!nodes.event.empty()) {
            wheels.push_back(nodes);
        }
    }
    return wheels;
}

}  // namespace rumble
