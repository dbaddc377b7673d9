#pragma once
// Each measured cost is reported beside a reference measured in the same
// run (memcpy of the same bytes, a bare durable file write, an uncontended
// lock), as the ratio of the two: machines differ, ratios much less.
#include <benchmark/benchmark.h>

#include <chrono>

namespace benchref {

using Clock = std::chrono::steady_clock;

inline double nsSince(Clock::time_point t0) {
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
}

// Nanoseconds per call of fn, over at least minMs of calls.
template <class F>
double referenceNs(F&& fn, int minMs = 20) {
    fn();  // warm
    long calls = 0;
    const auto t0 = Clock::now();
    do {
        for (int i = 0; i < 16; ++i) fn();
        calls += 16;
    } while (Clock::now() - t0 < std::chrono::milliseconds(minMs));
    return nsSince(t0) / double(calls);
}

// A timed loop over the benchmark's iterations: call done() after it to set
// the counters "ref_ns" and "x_ref" (the loop's cost per iteration over the
// reference's).
class Ratio {
public:
    Ratio(benchmark::State& state, double refNs) : m_state(state), m_ref(refNs), m_t0(Clock::now()) {}
    void done() {
        const double per = nsSince(m_t0) / double(m_state.iterations() ? m_state.iterations() : 1);
        m_state.counters["ref_ns"] = m_ref;
        m_state.counters["x_ref"] = m_ref > 0 ? per / m_ref : 0;
    }

private:
    benchmark::State& m_state;
    double m_ref;
    Clock::time_point m_t0;
};

}  // namespace benchref
