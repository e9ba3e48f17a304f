// The writer thread's mailbox: while a send waits for a stalled wheel, newer reports replace the
// one waiting, Post never waits, and the last report posted is the last one sent.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "linux/report_writer.h"

namespace {

// A wheel that holds its first send until told to go on, and records what it got.
struct StallingWheel {
    std::mutex mutex;
    std::condition_variable changed;
    bool stalled = true;
    bool inSend = false;
    bool gone = false;
    std::vector<std::pair<int, uint8_t>> sent;   // fd, motor A byte
    std::vector<std::pair<int, size_t>> closed;  // fd, sends before its close

    bool Send(int fd, const uint8_t report[4]) {
        std::unique_lock<std::mutex> lock(mutex);
        inSend = true;
        changed.notify_all();
        changed.wait(lock, [this] { return !stalled; });
        inSend = false;
        sent.emplace_back(fd, report[2]);
        return !gone;
    }
    void Close(int fd) {
        std::lock_guard<std::mutex> lock(mutex);
        closed.emplace_back(fd, sent.size());
    }
    void WaitInSend() {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [this] { return inSend; }));
    }
    void Go() {
        std::lock_guard<std::mutex> lock(mutex);
        stalled = false;
        changed.notify_all();
    }
};

void Report(uint8_t a, uint8_t out[4]) {
    out[0] = 3;
    out[1] = a != 0;
    out[2] = a;
    out[3] = 0;
}

TEST(ReportWriter, AStalledWheelGetsTheLatestReportAndAReleaseClosesAfterIt) {
    const struct {
        const char* what;
        std::vector<uint8_t> duringStall;
        bool release;
        std::vector<std::pair<int, uint8_t>> sent;
    } cases[] = {
        {"nothing more", {}, false, {{7, 200}}},
        {"one more", {100}, false, {{7, 200}, {7, 100}}},
        // Forty ticks' worth during the stall: one report after it, the stop.
        {"many, ending with a stop",
         {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 0},
         false,
         {{7, 200}, {7, 0}}},
        {"released with a stop waiting", {50, 0}, true, {{7, 200}, {7, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StallingWheel wheel;
        {
            rumble::ReportWriter writer(
                [&wheel](int fd, const uint8_t report[4]) { return wheel.Send(fd, report); },
                [&wheel](int fd) { wheel.Close(fd); });
            uint8_t report[4];
            Report(200, report);
            ASSERT_TRUE(writer.Post(7, report));
            wheel.WaitInSend();
            EXPECT_FALSE(writer.Idle()) << "a send is under way";
            for (uint8_t a : c.duringStall) {
                Report(a, report);
                EXPECT_TRUE(writer.Post(7, report));
            }
            if (c.release) {
                writer.Release(7);
            }
            wheel.Go();
            // Idle once all that was posted has been sent, not before.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!writer.Idle() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            EXPECT_TRUE(writer.Idle());
            std::lock_guard<std::mutex> lock(wheel.mutex);
            EXPECT_EQ(wheel.sent.size(), c.sent.size());
        }
        EXPECT_EQ(wheel.sent, c.sent);
        if (c.release) {
            // Closed once, after its last report.
            ASSERT_EQ(wheel.closed.size(), 1u);
            EXPECT_EQ(wheel.closed[0], std::make_pair(7, c.sent.size()));
        } else {
            EXPECT_TRUE(wheel.closed.empty());
        }
    }
}

// A wheel that answers at once: a report and the one right after it both go out, however late
// the thread wakes (a 10 ms rumble's only report, then its stop). Many tries, so a writer that
// replaced the first rarely escapes.
TEST(ReportWriter, AReportLeftWhileTheWheelIsFreeIsNeverReplaced) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        StallingWheel wheel;
        wheel.stalled = false;
        {
            rumble::ReportWriter writer(
                [&wheel](int fd, const uint8_t report[4]) { return wheel.Send(fd, report); },
                [&wheel](int fd) { wheel.Close(fd); });
            uint8_t report[4];
            Report(190, report);
            ASSERT_TRUE(writer.Post(7, report));
            Report(0, report);
            ASSERT_TRUE(writer.Post(7, report));
        }
        const std::vector<std::pair<int, uint8_t>> both = {{7, 190}, {7, 0}};
        ASSERT_EQ(wheel.sent, both) << "attempt " << attempt;
    }
}

TEST(ReportWriter, AFailedSendIsReportedToTheNextPost) {
    StallingWheel wheel;
    wheel.stalled = false;
    wheel.gone = true;
    rumble::ReportWriter writer(
        [&wheel](int fd, const uint8_t report[4]) { return wheel.Send(fd, report); },
        [&wheel](int fd) { wheel.Close(fd); });
    uint8_t report[4];
    Report(100, report);
    ASSERT_TRUE(writer.Post(4, report));
    // The failure shows at a later post, once the writer has tried.
    bool refused = false;
    for (int i = 0; i < 1000 && !refused; ++i) {
        refused = !writer.Post(4, report);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(refused);
    // Another wheel's descriptor is not affected.
    EXPECT_TRUE(writer.Post(5, report));
}

}  // namespace
