#include "report_writer.h"

#include <signal.h>

#include <cstring>

namespace rumble {

ReportWriter::ReportWriter(Send send, CloseFd close)
    : send_(std::move(send)), close_(std::move(close)) {
    // Signals are the main loop's to read: one delivered to this thread would end the process
    // unseen. The thread starts with them blocked, so none can slip in before it is ready.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    thread_ = std::thread([this] { Run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ReportWriter::~ReportWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool ReportWriter::Post(int fd, const uint8_t report[4]) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& slot = slots_[fd];
        if (slot.failed) {
            return false;
        }
        if (slot.pending && !slot.sending) {
            // The waiting report was left while the wheel was free and only the thread's wake-up
            // is late: it still goes out (a 10 ms rumble's one report), the new one after it.
            // While a send is under way, the wheel is slow and the newest replaces the rest.
            std::memcpy(slot.then, report, sizeof slot.then);
            slot.hasThen = true;
        } else {
            std::memcpy(slot.report, report, sizeof slot.report);
            slot.pending = true;
            slot.hasThen = false;
        }
    }
    wake_.notify_one();
    return true;
}

void ReportWriter::Release(int fd) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slots_[fd].released = true;
    }
    wake_.notify_one();
}

bool ReportWriter::Idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [fd, slot] : slots_) {
        if ((slot.pending && !slot.failed) || slot.sending) {
            return false;
        }
    }
    return true;
}

void ReportWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A waiting report first; then a descriptor given up with nothing left to send.
        auto work = slots_.end();
        for (auto it = slots_.begin(); it != slots_.end(); ++it) {
            if (it->second.pending && !it->second.failed) {
                work = it;
                break;
            }
        }
        if (work != slots_.end()) {
            const int fd = work->first;
            uint8_t report[4];
            std::memcpy(report, work->second.report, sizeof report);
            work->second.pending = work->second.hasThen;
            if (work->second.hasThen) {
                std::memcpy(work->second.report, work->second.then, sizeof report);
                work->second.hasThen = false;
            }
            work->second.sending = true;
            lock.unlock();
            const bool sent = send_(fd, report);
            lock.lock();
            slots_[fd].sending = false;
            // The slot stays while this thread is the only one to erase it.
            if (!sent) {
                slots_[fd].failed = true;
            }
            continue;
        }
        bool closed = false;
        for (auto it = slots_.begin(); it != slots_.end(); ++it) {
            if (it->second.released) {
                const int fd = it->first;
                slots_.erase(it);
                lock.unlock();
                close_(fd);
                lock.lock();
                closed = true;
                break;
            }
        }
        if (closed) {
            continue;
        }
        if (stopping_) {
            return;
        }
        wake_.wait(lock);
    }
}

}  // namespace rumble
