#pragma once
// The audio-source switch: one register, written as {0, value}; the last
// byte of a write is the value. Keeps the newest kHistoryKeep values
// written.
#include "sim/sim_models.h"
#include "sim/sim_ring.h"

#include <cstdint>
#include <mutex>
#include <vector>

class SimAudioSwitch : public I2cModel {
public:
    static constexpr size_t kHistoryKeep = 4096;
    bool write(const uint8_t* data, uint16_t len) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nacks > 0) return --m_nacks, false;
        if (len >= 2) {
            m_value = data[len - 1];
            m_history.push(m_value);
        }
        return true;
    }
    bool read(uint8_t* buf, uint16_t len) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (uint16_t i = 0; i < len; ++i) buf[i] = m_value;
        return true;
    }
    std::vector<uint8_t> history() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_history.items();
    }
    // The record only: the register keeps its value.
    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_history.clear();
    }
    // The next n writes are not acknowledged.
    void nackNext(int n) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nacks = n;
    }

private:
    mutable std::mutex m_mutex;
    uint8_t m_value = 0;
    SimRing<uint8_t> m_history{kHistoryKeep};
    int m_nacks = 0;
};
