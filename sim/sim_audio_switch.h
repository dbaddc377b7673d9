#pragma once
// The audio-source switch: one register, written as {0, value}; the last
// byte of a write is the value. Keeps every value written.
#include "sim/sim_models.h"

#include <cstdint>
#include <mutex>
#include <vector>

class SimAudioSwitch : public I2cModel {
public:
    bool write(const uint8_t* data, uint16_t len) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nacks > 0) return --m_nacks, false;
        if (len >= 2) m_history.push_back(data[len - 1]);
        return true;
    }
    bool read(uint8_t* buf, uint16_t len) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (uint16_t i = 0; i < len; ++i) buf[i] = m_history.empty() ? 0 : m_history.back();
        return true;
    }
    std::vector<uint8_t> history() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_history;
    }
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
    std::vector<uint8_t> m_history;
    int m_nacks = 0;
};
