// talvex-rumble: the Talvex DX wheel's rumble on Linux. For every wheel (USB 2D71:5A08) it makes
// a uinput device that games open instead of the wheel, and drives the wheel's motors through
// its hidraw node with the Windows driver's own effect code and 25 ms tick.
//
// Command line (stable):
//   talvex-rumble [--foreground] [--verbose] [--config FILE] [--help] [--version]
//     --foreground   stay attached and log to standard error (the systemd unit uses it), with
//                    journald's "<N>" priority prefixes when standard error is the journal
//                    (JOURNAL_STREAM); without it the service detaches and logs to syslog
//     --verbose      also log every report sent and ignored client requests
//     --config FILE  the intensity file (default /etc/talvex-rumble.conf): "amplify = N",
//                    N from 0 (silent) to 1500, 1000 unchanged; read at start and again at an
//                    effect start after it changed; a problem with it is a warning, once per
//                    change
//     --help         this text, exit 0
//     --version      "talvex-rumble X.Y.Z.B", exit 0
//   Exit codes: 0 stopped by SIGTERM, SIGINT, SIGHUP or SIGQUIT (after an all-off report to every
//   wheel), 1 cannot start (libudev, the timer), 2 bad arguments.
//
// What it logs (one line each, "talvex-rumble: ..."; errors, warnings, notices and with
// --verbose debug lines, each at its syslog priority): "wheel N found: <name>, hidraw
// /dev/hidrawX, input /dev/input/eventY, device /dev/input/eventZ", "/dev/hidrawX: report ID
// R (...)", with --verbose "/dev/hidrawX: report 03 00 fe 00" for every report, "wheel N
// unplugged", and "stopping". The uinput device has the wheel's name and input id, and the
// physical path "talvex-rumble/hidrawX". It comes and goes with the wheel, as a kernel device
// does: an unplugged wheel's device goes at once (its clients see it removed, and the kernel
// ends their effects), and a wheel plugged in gets a new one with its axes and buttons as they
// stand.
#include <getopt.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/version.h"
#include "linux/amplify_config.h"
#include "linux/ff_bridge.h"
#include "linux/hidraw_link.h"
#include "linux/mirror_device.h"
#include "linux/wheel_watch.h"

namespace {

constexpr const char* kDefaultConfig = "/etc/talvex-rumble.conf";

bool g_syslog = false;
// Standard error is connected to the journal: each line starts with its priority, "<3>" for an
// error, as sd-daemon(3) describes.
bool g_journal = false;

void Log(const std::string& text, int priority = LOG_INFO) {
    if (g_syslog) {
        syslog(priority, "%s", text.c_str());
    } else if (g_journal) {
        std::fprintf(stderr, "<%d>talvex-rumble: %s\n", priority, text.c_str());
    } else {
        std::fprintf(stderr, "talvex-rumble: %s\n", text.c_str());
    }
}
void Warn(const std::string& text) {
    Log(text, LOG_WARNING);
}
void Error(const std::string& text) {
    Log(text, LOG_ERR);
}

// JOURNAL_STREAM names the journal's stream as "device:inode"; it is inherited by programs
// started from the service too, so it counts only while standard error is still that stream.
bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    struct stat info = {};
    return stream != nullptr && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

void Usage(FILE* out) {
    std::fprintf(out,
                 "Usage: talvex-rumble [--foreground] [--verbose] [--config FILE] [--help]\n"
                 "                     [--version]\n"
                 "Makes the Talvex DX wheel rumble for Linux games: one force-feedback device\n"
                 "per wheel, driven with the Windows driver's effect code.\n"
                 "  --foreground   stay attached, log to standard error\n"
                 "  --verbose      log every report sent and every ignored request\n"
                 "  --config FILE  the intensity file (default %s):\n"
                 "                 amplify = N   (0 silent .. 1000 unchanged .. 1500)\n"
                 "  --help         this text\n"
                 "  --version      the version\n"
                 "SIGTERM, SIGINT, SIGHUP and SIGQUIT turn every wheel's motors off and end it.\n",
                 kDefaultConfig);
}

class MonotonicClock final : public wheel::Clock {
  public:
    uint32_t TickCount() override {
        timespec now = {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                     static_cast<uint64_t>(now.tv_nsec) / 1000000u);
    }
};

// The driver's periodic timer as a timerfd, fired from the main loop: one thread for all.
class TimerfdTimer final : public wheel::PeriodicTimer {
  public:
    TimerfdTimer() : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {}
    ~TimerfdTimer() override {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int Fd() const { return fd_; }
    uint32_t Start(uint32_t periodMs, uint32_t, wheel::TimerCallback callback,
                   void* user) override {
        itimerspec timing = {};
        timing.it_interval.tv_sec = periodMs / 1000;
        timing.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
        timing.it_value = timing.it_interval;
        if (fd_ < 0 || timerfd_settime(fd_, 0, &timing, nullptr) < 0) {
            return 0;
        }
        callback_ = callback;
        user_ = user;
        return 1;
    }
    void Kill(uint32_t) override {
        itimerspec off = {};
        if (fd_ >= 0) {
            timerfd_settime(fd_, 0, &off, nullptr);
        }
        callback_ = nullptr;
    }
    // Ticks missed while the process was held up are not made up: one tick per wake.
    void Fire() {
        uint64_t expirations = 0;
        if (read(fd_, &expirations, sizeof expirations) > 0 && callback_ != nullptr) {
            callback_(user_);
        }
    }

  private:
    int fd_;
    wheel::TimerCallback callback_ = nullptr;
    void* user_ = nullptr;
};

// What the main loop waits on, in epoll's 64-bit tag: kind << 32 | wheel.
enum Source : uint64_t { kSignal = 1, kTimer, kUdev, kUinput, kEvdev };
uint64_t Tag(Source source, uint32_t wheel = 0) {
    return (uint64_t{source} << 32) | wheel;
}

class Service {
  public:
    Service(const std::string& config, bool verbose)
        : verbose_(verbose),
          registry_(config, Warn),
          link_([](const std::string& text) { Log(text); }, verbose, Warn) {}

    int Run() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        // A closed terminal (SIGHUP) and Ctrl+\ (SIGQUIT) end it as well, and never with a motor
        // left running.
        sigaddset(&signals, SIGHUP);
        sigaddset(&signals, SIGQUIT);
        sigprocmask(SIG_BLOCK, &signals, nullptr);
        signal(SIGPIPE, SIG_IGN);
        const int signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        std::string error;
        if (signalFd < 0 || epoll_ < 0 || timer_.Fd() < 0) {
            Error("cannot set up the main loop: " + std::string(std::strerror(errno)));
            return 1;
        }
        if (!watch_.Open(&error)) {
            Error(error);
            return 1;
        }
        if (registry_.Load() != ERROR_SUCCESS) {
            Error("cannot load the wheel's registry data");
            return 1;
        }
        rumble::BridgeServices services;
        services.registry = &registry_;
        services.clock = &clock_;
        services.timer = &timer_;
        services.link = &link_;
        services.log = [this](const std::string& text) { Verbose(text); };
        services.settled = [this] { return link_.Settled(); };
        bridge_ = std::make_unique<rumble::FfBridge>(services);
        if (!bridge_->Create()) {
            Error("the effect driver cannot start");
            return 1;
        }
        Add(signalFd, Tag(kSignal));
        Add(timer_.Fd(), Tag(kTimer));
        Add(watch_.Fd(), Tag(kUdev));
        Log(std::string("started; device events from ") + watch_.Source());
        Reconcile();
        bool running = true;
        while (running) {
            epoll_event events[16];
            const int n = epoll_wait(epoll_, events, 16, -1);
            if (n < 0 && errno != EINTR) {
                Error("epoll_wait: " + std::string(std::strerror(errno)));
                break;
            }
            for (int i = 0; i < n; ++i) {
                const auto source = static_cast<Source>(events[i].data.u64 >> 32);
                const auto wheel = static_cast<uint32_t>(events[i].data.u64 & 0xFFFFFFFFu);
                switch (source) {
                    case kSignal:
                        running = false;
                        break;
                    case kTimer:
                        timer_.Fire();
                        break;
                    case kUdev:
                        if (watch_.Receive()) {
                            Reconcile();
                        }
                        break;
                    case kUinput:
                        if (wheels_.count(wheel) != 0) {
                            wheels_[wheel].mirror->ServeClients(*bridge_, wheel);
                        }
                        break;
                    case kEvdev:
                        if (wheels_.count(wheel) != 0 && !wheels_[wheel].mirror->ForwardInput()) {
                            // The wheel's input device is gone: its device goes now, not after
                            // udevd has had the news, so that games learn of it at once.
                            Unplugged(wheel);
                        }
                        break;
                }
            }
        }
        Log("stopping: all motors off");
        // The driver's teardown stops every effect and sends each open wheel an all-off report,
        // before the mirrors and the hidraw nodes go.
        bridge_.reset();
        wheels_.clear();
        close(signalFd);
        return 0;
    }

  private:
    struct Wheel {
        rumble::WheelNodes nodes;
        // DeviceID succeeded: the driver holds its hidraw node and reopens it by itself.
        bool bound = false;
        std::unique_ptr<rumble::MirrorDevice> mirror;
    };

    void Verbose(const std::string& text) {
        if (verbose_) {
            Log(text, LOG_DEBUG);
        }
    }

    void Add(int fd, uint64_t tag) {
        epoll_event event = {};
        event.events = EPOLLIN;
        event.data.u64 = tag;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }

    void Remove(int fd) {
        if (fd >= 0) {
            epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        }
    }

    // Brings the wheels in line with what udev knows now: a gone wheel's device goes with it,
    // and a new wheel gets one.
    void Reconcile() {
        const std::vector<rumble::WheelNodes> present = watch_.Wheels();
        std::vector<uint32_t> gone;
        for (auto& [id, w] : wheels_) {
            bool still = false;
            for (const auto& nodes : present) {
                still = still || (nodes.hidSyspath == w.nodes.hidSyspath &&
                                  nodes.hidraw == w.nodes.hidraw && nodes.event == w.nodes.event);
            }
            if (!still) {
                gone.push_back(id);
            }
        }
        for (const uint32_t id : gone) {
            Unplugged(id);
        }
        for (const auto& nodes : present) {
            bool known = false;
            for (auto& [id, w] : wheels_) {
                if (w.nodes.hidSyspath == nodes.hidSyspath) {
                    known = true;
                    // Its node could not be opened: a changed permission (udevadm trigger after
                    // installing the rule) comes as an event like this one.
                    if (!w.bound) {
                        Bind(id);
                    }
                }
            }
            if (!known) {
                Plug(nodes);
            }
        }
    }

    void Bind(uint32_t id) {
        Wheel& w = wheels_[id];
        w.bound = SUCCEEDED(bridge_->Bind(id));
        if (!w.bound) {
            Warn("wheel " + std::to_string(id) + ": " + w.nodes.hidraw +
                 " cannot be opened, so its motors stay off; tried again when the wheel's nodes "
                 "change (udevadm trigger) or it is plugged in again");
        }
    }

    void Plug(const rumble::WheelNodes& nodes) {
        std::string error;
        uint32_t id = 0;
        while (id < rumble::kMaxWheels && wheels_.count(id) != 0) {
            ++id;
        }
        if (id == rumble::kMaxWheels) {
            Warn("more than 16 wheels: " + nodes.hidraw + " is left alone");
            return;
        }
        auto mirror = std::make_unique<rumble::MirrorDevice>(Warn);
        if (!mirror->Create(nodes.event, nodes.hidraw, &error)) {
            Warn(error);
            return;
        }
        Wheel& w = wheels_[id];
        w.nodes = nodes;
        w.mirror = std::move(mirror);
        Add(w.mirror->UinputFd(), Tag(kUinput, id));
        Add(w.mirror->EvdevFd(), Tag(kEvdev, id));
        link_.SetNode(id, nodes.hidraw);
        Log("wheel " + std::to_string(id) + " found: " + nodes.name + ", hidraw " + nodes.hidraw +
            ", input " + nodes.event + ", device " + w.mirror->Node());
        Bind(id);
    }

    void Unplugged(uint32_t id) {
        Log("wheel " + std::to_string(id) + " unplugged (" + wheels_[id].nodes.hidraw +
            "); its device goes too");
        Drop(id);
    }

    // The wheel is gone: its effects are over and its device goes. Clients that still hold the
    // device get ENODEV, and the kernel erases their effects as they close it.
    void Drop(uint32_t id) {
        Wheel& w = wheels_[id];
        link_.SetNode(id, "");
        bridge_->EraseAll(id);
        Remove(w.mirror->UinputFd());
        Remove(w.mirror->EvdevFd());
        wheels_.erase(id);
    }

    bool verbose_;
    rumble::ConfigRegistry registry_;
    rumble::HidrawLink link_;
    MonotonicClock clock_;
    TimerfdTimer timer_;
    rumble::WheelWatch watch_;
    std::unique_ptr<rumble::FfBridge> bridge_;
    std::map<uint32_t, Wheel> wheels_;
    int epoll_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    bool foreground = false;
    bool verbose = false;
    std::string config = kDefaultConfig;
    static const option kOptions[] = {
        {"foreground", no_argument, nullptr, 'f'},   {"verbose", no_argument, nullptr, 'v'},
        {"config", required_argument, nullptr, 'c'}, {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},      {nullptr, 0, nullptr, 0}};
    int option = 0;
    while ((option = getopt_long(argc, argv, "fvc:h", kOptions, nullptr)) != -1) {
        switch (option) {
            case 'f':
                foreground = true;
                break;
            case 'v':
                verbose = true;
                break;
            case 'c':
                config = optarg;
                break;
            case 'h':
                Usage(stdout);
                return 0;
            case 'V':
                std::printf("talvex-rumble %s\n", WHEEL_VERSION_TEXT);
                return 0;
            default:
                Usage(stderr);
                return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "talvex-rumble: unexpected argument \"%s\"\n", argv[optind]);
        Usage(stderr);
        return 2;
    }
    if (!foreground) {
        if (daemon(0, 0) < 0) {
            std::perror("talvex-rumble: cannot detach");
            return 1;
        }
        openlog("talvex-rumble", LOG_PID, LOG_DAEMON);
        g_syslog = true;
    }
    g_journal = !g_syslog && StderrIsJournal();
    Service service(config, verbose);
    return service.Run();
}
