#pragma once
// A dictionary from text keys to values that compares keys ignoring case and
// keeps entries in insertion order, as the scripting dictionary does. The key
// is kept as first added; replacing a value keeps the entry's place.

#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "base/Convert.h"

template <typename V>
class OrderedDictionary {
public:
    using Entry = std::pair<std::string, V>;
    using const_iterator = typename std::list<Entry>::const_iterator;

    OrderedDictionary() = default;
    // The index points into the entry list, so a copy rebuilds its own.
    OrderedDictionary(const OrderedDictionary& other) : m_entries(other.m_entries) { reindex(); }
    OrderedDictionary& operator=(const OrderedDictionary& other) {
        if (this != &other) {
            m_entries = other.m_entries;
            reindex();
        }
        return *this;
    }
    OrderedDictionary(OrderedDictionary&&) noexcept = default;
    OrderedDictionary& operator=(OrderedDictionary&&) noexcept = default;

    bool Exists(std::string_view key) const { return m_index.count(vb::LCase(key)) != 0; }

    // Adds a new entry; returns false (and changes nothing) when the key exists.
    bool Add(std::string_view key, V value) {
        const std::string folded = vb::LCase(key);
        if (m_index.count(folded) != 0) return false;
        m_entries.emplace_back(std::string(key), std::move(value));
        m_index.emplace(folded, std::prev(m_entries.end()));
        return true;
    }

    // Sets the value, adding the entry at the end when it is new.
    void Set(std::string_view key, V value) {
        if (V* existing = find(key))
            *existing = std::move(value);
        else
            Add(key, std::move(value));
    }

    V* find(std::string_view key) {
        auto it = m_index.find(vb::LCase(key));
        return it == m_index.end() ? nullptr : &it->second->second;
    }
    const V* find(std::string_view key) const {
        auto it = m_index.find(vb::LCase(key));
        return it == m_index.end() ? nullptr : &it->second->second;
    }

    bool Remove(std::string_view key) {
        auto it = m_index.find(vb::LCase(key));
        if (it == m_index.end()) return false;
        m_entries.erase(it->second);
        m_index.erase(it);
        return true;
    }

    void RemoveAll() {
        m_index.clear();
        m_entries.clear();
    }

    size_t Count() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }

private:
    void reindex() {
        m_index.clear();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
            m_index.emplace(vb::LCase(it->first), it);
    }

    std::list<Entry> m_entries;
    std::unordered_map<std::string, typename std::list<Entry>::iterator> m_index;
};
