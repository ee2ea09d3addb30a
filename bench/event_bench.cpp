// What signalling costs a transfer, per call: the worker sets its status event after
// every 256-byte block and tests its stop event before each one. Run by hand:
//   event_bench [calls]
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "brindlex/vhandle.h"

namespace {

template <typename Body>
double NanosecondsPerCall(long calls, Body body) {
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i) body();
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    return took.count() / static_cast<double>(calls);
}

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 5000000;
    if (calls <= 0) {
        std::fprintf(stderr, "usage: event_bench [calls]\n");
        return 2;
    }
    VHANDLE signalled = VCreateEvent(false, true);
    VHANDLE cleared = VCreateEvent(false, false);
    VHANDLE stop = VCreateEvent(true, false);
    const int raw = eventfd(0, EFD_CLOEXEC);
    if (signalled == nullptr || cleared == nullptr || stop == nullptr || raw < 0) {
        std::fprintf(stderr, "event_bench: out of descriptors\n");
        return 1;
    }

    // Warm up caches and the branch predictor before the first figure.
    NanosecondsPerCall(calls / 10, [&] { VSetEvent(signalled); });

    const double setSignalled = NanosecondsPerCall(calls, [&] { VSetEvent(signalled); });
    const double isSignalled = NanosecondsPerCall(calls, [&] {
        if (VIsSignalled(stop)) std::abort();
    });
    // A fresh set writes. Each one is timed alone (its consume must not count), so
    // the cost of reading the clock is measured and taken off.
    using Clock = std::chrono::steady_clock;
    const long slow = calls / 10;
    Clock::duration inSet{}, inClock{};
    for (long i = 0; i < slow; ++i) {
        const auto t0 = Clock::now();
        VSetEvent(cleared);
        const auto t1 = Clock::now();
        const auto t2 = Clock::now();
        inSet += t1 - t0;
        inClock += t2 - t1;
        VWait(cleared, 0);
    }
    const double freshSet = std::chrono::duration<double, std::nano>(inSet - inClock).count() /
                            static_cast<double>(slow);
    const double consume = NanosecondsPerCall(slow,
                                              [&] {
                                                  VSetEvent(cleared);
                                                  VWait(cleared, 0);
                                              }) -
                           freshSet;
    const std::uint64_t one = 1;
    const double rawWrite = NanosecondsPerCall(slow, [&] {
        if (write(raw, &one, sizeof one) != sizeof one) std::abort();
    });

    std::printf("calls: %ld (system-call paths: %ld)\n", calls, slow);
    std::printf("VSetEvent, already signalled: %8.2f ns\n", setSignalled);
    std::printf("VSetEvent, fresh (one write): %8.2f ns\n", freshSet);
    std::printf("VWait(0) consuming a signal:  %8.2f ns\n", consume);
    std::printf("VIsSignalled:                 %8.2f ns\n", isSignalled);
    std::printf("bare eventfd write(2):        %8.2f ns\n", rawWrite);

    close(raw);
    VCloseHandle(stop);
    VCloseHandle(cleared);
    VCloseHandle(signalled);
    return 0;
}
