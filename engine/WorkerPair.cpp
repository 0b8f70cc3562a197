#include "engine/WorkerPair.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

inline void Pause()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

// Spins before a thread waiting for the other sleeps: some microseconds.
constexpr int kSpins = 1 << 11;

} // namespace

TWorkerPair::TWorkerPair(unsigned parts) : parts_(parts == 2 ? 2 : 1)
{
    if (parts_ == 2) thread_ = std::thread([this] { Loop(); });
}

TWorkerPair::~TWorkerPair()
{
    if (!thread_.joinable()) return;
    stop_ = true;
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_one();
    thread_.join();
}

void TWorkerPair::Dispatch(void (*call)(void*, unsigned), void* body)
{
    call_ = call;
    body_ = body;
    const std::uint32_t run = generation_.fetch_add(1, std::memory_order_release) + 1;
    generation_.notify_one();
    call(body, 0);
    int spins = 0;
    for (std::uint32_t done; (done = done_.load(std::memory_order_acquire)) != run;) {
        if (++spins < kSpins) Pause();
        else done_.wait(done, std::memory_order_acquire);
    }
}

void TWorkerPair::Loop()
{
    std::uint32_t seen = 0;
    for (;;) {
        int spins = 0;
        std::uint32_t now;
        while ((now = generation_.load(std::memory_order_acquire)) == seen) {
            if (++spins < kSpins) {
                Pause();
            } else {
                generation_.wait(seen, std::memory_order_acquire);
            }
        }
        seen = now;
        if (stop_) return;
        call_(body_, 1);
        done_.store(seen, std::memory_order_release);
        done_.notify_one();
    }
}
