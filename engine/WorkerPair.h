#pragma once

// A persistent second thread for work split in two: Run(body) calls body(0)
// on the calling thread and body(1) on the second one, and returns when both
// have returned. Between runs the second thread spins for a short while (the
// phases of a training step follow each other closely), then sleeps on a
// futex until the next run. Without the second thread (one part) Run calls
// body(0) alone. Bodies must not throw.

#include <atomic>
#include <cstdint>
#include <thread>

class TWorkerPair {
public:
    // parts: 1 (no second thread) or 2.
    explicit TWorkerPair(unsigned parts);
    ~TWorkerPair();
    TWorkerPair(const TWorkerPair&) = delete;
    TWorkerPair& operator=(const TWorkerPair&) = delete;

    unsigned Parts() const noexcept { return parts_; }

    template <class Body>
    void Run(Body& body)
    {
        if (parts_ == 1) {
            body(0u);
            return;
        }
        Dispatch([](void* b, unsigned part) { (*static_cast<Body*>(b))(part); }, &body);
    }

private:
    void Dispatch(void (*call)(void*, unsigned), void* body);
    void Loop();

    unsigned parts_;
    void (*call_)(void*, unsigned) = nullptr;
    void* body_ = nullptr;
    std::atomic<std::uint32_t> generation_{0};  // bumped for each run, and once more to stop
    std::atomic<std::uint32_t> done_{0};        // the generation the second thread last finished
    bool stop_ = false;
    std::thread thread_;
};
