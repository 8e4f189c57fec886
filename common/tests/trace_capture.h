#pragma once
// A trace object for tests: keeps every line it is given.

#include "common/lumo_deb.h"

#include <mutex>
#include <string>
#include <vector>

class TraceCapture : public CLumoDeb {
public:
    void Output(const char* line) override {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool contains(const std::string& line) {
        std::lock_guard lock(m_mutex);
        for (const auto& l : m_lines) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Puts a capture at level 5 behind gpLumoDeb for the life of the object.
class ScopedTraceCapture {
public:
    ScopedTraceCapture() : m_previous(gpLumoDeb) {
        m_capture.SetLevel(5);
        gpLumoDeb = &m_capture;
    }
    ~ScopedTraceCapture() { gpLumoDeb = m_previous; }
    TraceCapture& operator*() { return m_capture; }
    TraceCapture* operator->() { return &m_capture; }

private:
    TraceCapture m_capture;
    CLumoDeb* m_previous;
};
