#pragma once
// MessageTable: the handlers of a message window's private messages, one row
// per message, each registered by the part of the program that owns the
// message. A row added again for the same message replaces the earlier one.
//
// Thread: used on the owner thread of the window it serves.

#include "platform/types.h"

#include <functional>
#include <unordered_map>
#include <vector>

namespace trennick {

class MessageTable {
public:
    using Handler = std::function<LRESULT(WPARAM wParam, LPARAM lParam)>;

    void add(UINT msg, Handler handler) { m_rows[msg] = std::move(handler); }
    // Rows for several messages with one handler that is told which came.
    void add(std::initializer_list<UINT> msgs, const std::function<LRESULT(UINT, WPARAM, LPARAM)>& handler) {
        for (UINT msg : msgs) {
            m_rows[msg] = [handler, msg](WPARAM wParam, LPARAM lParam) { return handler(msg, wParam, lParam); };
        }
    }
    void remove(UINT msg) { m_rows.erase(msg); }
    bool has(UINT msg) const { return m_rows.count(msg) != 0; }
    // Runs the row of `msg`; false when there is none.
    bool dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) const {
        const auto row = m_rows.find(msg);
        if (row == m_rows.end()) return false;
        // A copy: the handler may replace or remove its own row.
        const Handler handler = row->second;
        result = handler(wParam, lParam);
        return true;
    }

private:
    std::unordered_map<UINT, Handler> m_rows;
};

}  // namespace trennick

namespace trennick {

// The rows one part of the program registered in a table; they leave the
// table with it, so a row never outlives the object its handler calls.
class MessageRows {
public:
    explicit MessageRows(MessageTable& table) : m_table(table) {}
    ~MessageRows() {
        for (UINT msg : m_msgs) m_table.remove(msg);
    }
    MessageRows(const MessageRows&) = delete;
    MessageRows& operator=(const MessageRows&) = delete;

    void add(UINT msg, MessageTable::Handler handler) {
        m_table.add(msg, std::move(handler));
        m_msgs.push_back(msg);
    }
    void add(std::initializer_list<UINT> msgs, const std::function<LRESULT(UINT, WPARAM, LPARAM)>& handler) {
        m_table.add(msgs, handler);
        m_msgs.insert(m_msgs.end(), msgs.begin(), msgs.end());
    }

private:
    MessageTable& m_table;
    std::vector<UINT> m_msgs;
};

}  // namespace trennick
