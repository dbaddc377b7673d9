#pragma once
// The record a model keeps for tests (a transfer log, a history of line
// sets), bounded so a long PC run stays small: past the bound the oldest
// entry goes. Tests read the newest entries. Not locked: the owner's lock
// guards it.
#include <cstddef>
#include <deque>
#include <vector>

template <class T>
class SimRing {
public:
    explicit SimRing(size_t bound) : m_bound(bound ? bound : 1) {}

    void push(T value) {
        if (m_items.size() >= m_bound) m_items.pop_front();
        m_items.push_back(std::move(value));
    }
    void clear() { m_items.clear(); }
    size_t size() const { return m_items.size(); }
    size_t bound() const { return m_bound; }
    // Oldest first.
    std::vector<T> items() const { return std::vector<T>(m_items.begin(), m_items.end()); }
    typename std::deque<T>::const_iterator begin() const { return m_items.begin(); }
    typename std::deque<T>::const_iterator end() const { return m_items.end(); }

private:
    size_t m_bound;
    std::deque<T> m_items;
};
