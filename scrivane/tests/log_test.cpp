#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/testing/child_process.h"
#include "scrivane/scrivane_lib.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using platform::com::Bstr;
using platform::com::ComPtr;

namespace {

constexpr HRESULT kNotOpen = hresult(0x8004000E);
constexpr HRESULT kNoMoreEntries = hresult(0x80040014);
constexpr HRESULT kAddEntryFailed = hresult(0x80040012);
constexpr HRESULT kArgumentRefused = hresult(0xFFFFFFFF);

std::string logPath(const char* name = "activity.log") { return (platform::homeFolder() / name).string(); }

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file's lines without their CR LF.
std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = fileText(path);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

struct ReadEntry {
    short eventId = 0, flags = 0, status = 0;
    std::string date, time, user, info;
};

// Every entry the reader hands out, in its order.
std::vector<ReadEntry> readAll(Izo_LogRead* reader, const std::string& path, HRESULT* firstResult = nullptr) {
    std::vector<ReadEntry> entries;
    EXPECT_EQ(reader->OpenLogFile(Bstr(path).get()), S_OK);
    for (bool first = true;; first = false) {
        ReadEntry e;
        Bstr date, time, user, info;
        HRESULT hr = first ? reader->GetFirstLogEntry(&e.eventId, date.put(), time.put(), &e.flags, user.put(),
                                                      &e.status, info.put())
                           : reader->GetNextLogEntry(&e.eventId, date.put(), time.put(), &e.flags, user.put(),
                                                     &e.status, info.put());
        if (first && firstResult) *firstResult = hr;
        if (FAILED(hr)) {
            EXPECT_EQ(hr, kNoMoreEntries);
            break;
        }
        e.date = date.str();
        e.time = time.str();
        e.user = user.str();
        e.info = info.str();
        entries.push_back(e);
    }
    return entries;
}

// The index field of each entry line of the file, in file order.
std::vector<long> lineIndexes(const std::string& path) {
    std::vector<long> ids;
    for (const auto& line : fileLines(path)) {
        std::size_t comma = line.find(',');
        if (comma != std::string::npos && line.size() == 121) {
            ids.push_back(std::stol(line.substr(0, comma)));
        }
    }
    return ids;
}

HRESULT createLog(Izo_LogWrite* writer, const std::string& path, const char* name = "Activities Log",
                  short type = 0, short cycleType = 1, LONG cycleParam = 300) {
    return writer->CreateLogFile(Bstr("VLM").get(), Bstr("1.0.0").get(), Bstr(name).get(), type, cycleType,
                                 cycleParam, Bstr(path).get());
}

HRESULT add(Izo_LogWrite* writer, short eventId, const std::string& user, const std::string& info,
            short status = 0, short flags = 0) {
    return writer->AddLogEntry(eventId, flags, Bstr(user).get(), status, Bstr(info).get());
}

class ScrivaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
        ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogWrite, writer), S_OK);
        ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogRead, reader), S_OK);
    }
    void TearDown() override {
        writer.reset();
        reader.reset();
        CoUninitialize();
    }
    ComPtr<Izo_LogWrite> writer;
    ComPtr<Izo_LogRead> reader;
};

}  // namespace

TEST_F(ScrivaneTest, NewLogHasHeaderAndFirstEntryGetsIdOne) {
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path), S_OK);
    EXPECT_EQ(fileText(path), "VLM\r\n1.0.0\r\nActivities Log\r\n0\r\n0\r\n300\r\n1\r\n0\r\n\r\n");

    ASSERT_EQ(add(writer.get(), LOGEVENTID_CONNECT, "\\pc\\rec\\anna", "dialled"), S_OK);
    auto lines = fileLines(path);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[4], "1");
    EXPECT_EQ(lines[8], "");
    ASSERT_EQ(lines[9].size(), 121u);
    EXPECT_EQ(lines[9].substr(0, 5), "1,10,");
    EXPECT_NE(lines[9].find(",0,0,\\pc\\rec\\anna,dialled   "), std::string::npos);
    EXPECT_EQ(fileText(path).size() % 1, 0u);
    EXPECT_EQ(fileText(path).substr(fileText(path).size() - 2), "\r\n");

    // Another cycle type is recorded as the size limit of 100 kilobytes.
    const std::string other = logPath("other.log");
    ASSERT_EQ(createLog(writer.get(), other, "Other", 2, 2, 500), S_OK);
    lines = fileLines(other);
    EXPECT_EQ(lines[5], "100");
    EXPECT_EQ(lines[6], "1");
}

TEST_F(ScrivaneTest, FieldsAreCutAndReadBack) {
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path), S_OK);
    const std::string user40(40, 'u');
    const std::string info80(80, 'i');
    ASSERT_EQ(add(writer.get(), 47, user40, info80, LOGSTATID_WARNING, 3), S_OK);  // id 47 is written as given
    ASSERT_EQ(add(writer.get(), 5, "short", "x", LOGSTATID_ERROR), S_OK);
    // Line breaks and commas in the texts would break the line layout.
    ASSERT_EQ(add(writer.get(), 6, "a,b", "line\r\nbreak, kept"), S_OK);

    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].eventId, 47);
    EXPECT_EQ(entries[0].status, 1);
    EXPECT_EQ(entries[0].flags, 3);
    EXPECT_EQ(entries[0].user, std::string(30, 'u'));
    EXPECT_EQ(entries[0].info, std::string(50, 'i'));
    EXPECT_EQ(entries[0].date.size(), 8u);
    EXPECT_EQ(entries[0].time.size(), 6u);
    EXPECT_EQ(entries[1].status, 2);
    EXPECT_EQ(entries[2].user, "a b");
    EXPECT_EQ(entries[2].info, "line  break, kept");
    EXPECT_EQ(fileLines(path).size(), 12u);

    // Values wider than their field are refused and nothing is written.
    EXPECT_EQ(add(writer.get(), -1000, "u", "i"), logEngineError(LEERR_INVALID_ENTRY_STR));
    EXPECT_EQ(add(writer.get(), 1, "u", "i", 0, 10), logEngineError(LEERR_INVALID_ENTRY_STR));
    EXPECT_EQ(fileLines(path).size(), 12u);
}

TEST_F(ScrivaneTest, RefusedCreateLeavesExistingLogAlone) {
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path), S_OK);
    ASSERT_EQ(add(writer.get(), 1, "u", "kept"), S_OK);
    const std::string before = fileText(path);

    struct Case { const char* format; const char* version; std::string name; short type; short cycleType; int code; };
    const Case cases[] = {
        {"VLMVLM", "1.0.0", "n", 0, 1, LEERR_INVALID_LOGSTAMP},
        {"VLM", "1.0.0.0", "n", 0, 1, LEERR_INVALID_VERSION},
        {"VLM", "1.0.0", std::string(31, 'n'), 0, 1, LEERR_INVALID_LOGNAME},  // the open would refuse it
        {"VLM", "1.0.0", "two\nlines", 0, 1, LEERR_INVALID_LOGNAME},
        {"VLM", "1.0.0", "n", 6, 1, LEERR_INVALID_LOG_TYPE},
        {"VLM", "1.0.0", "n", -1, 1, LEERR_INVALID_LOG_TYPE},  // the open would refuse it
        {"VLM", "1.0.0", "n", 0, 5, LEERR_INVALID_CYCTYPE},
        {"VLM", "1.0.0", "n", 0, -1, LEERR_INVALID_CYCTYPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(writer->CreateLogFile(Bstr(c.format).get(), Bstr(c.version).get(), Bstr(c.name).get(), c.type,
                                        c.cycleType, 10, Bstr(path).get()),
                  kArgumentRefused);
        EXPECT_EQ(fileText(path), before);
    }
    EXPECT_EQ(createLog(writer.get(), logPath("missing-folder/x.log")), logEngineError(LEERR_SYSTEM));
}

TEST_F(ScrivaneTest, AppendNeedsAnOpenValidLog) {
    EXPECT_EQ(add(writer.get(), 1, "u", "i"), kNotOpen);
    EXPECT_EQ(writer->OpenLogFile(Bstr(logPath("none.log")).get()), logEngineError(LEERR_SYSTEM));

    struct Case { const char* header; HRESULT open; };
    const Case cases[] = {
        {"VLX\r\n1.0.0\r\nn\r\n0\r\n0\r\n1\r\n1\r\n0\r\n", logEngineError(LEERR_INVALID_LOGSTAMP)},
        {"VLM\r\n1.0.1\r\nn\r\n0\r\n0\r\n1\r\n1\r\n0\r\n", logEngineError(LEERR_INVALID_VERSION)},
        {"VLM\r\n1.0.0\r\nn\r\n10\r\n0\r\n1\r\n1\r\n0\r\n", logEngineError(LEERR_INVALID_LOG_TYPE)},
        {"VLM\r\n1.0.0\r\nn\r\n0\r\n12345678901\r\n1\r\n1\r\n0\r\n", logEngineError(LEERR_INVALID_LAST_ENTRY_ID)},
        {"VLM\r\n1.0.0\r\nn\r\n0\r\n0\r\n1\r\n4\r\n0\r\n", logEngineError(LEERR_INVALID_CYCTYPE)},
        {"VLM\r\n1.0.0\r\nn\r\n0\r\n0\r\n1\r\n1\r\n", logEngineError(LEERR_LOGFILE_READ_FAIL)},
    };
    const std::string path = logPath("bad.log");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        writeFile(path, c.header);
        EXPECT_EQ(writer->OpenLogFile(Bstr(path).get()), c.open);
        // A refused header stays refused when an entry is added anyway.
        EXPECT_TRUE(FAILED(add(writer.get(), 1, "u", "i")));
        EXPECT_EQ(fileText(path), c.header);
    }

    // Cycle types 0 and 3 open, but nothing can be appended.
    for (const char* cycleType : {"0", "3"}) {
        writeFile(path, std::string("VLM\r\n1.0.0\r\nn\r\n0\r\n0\r\n1\r\n") + cycleType + "\r\n0\r\n\r\n");
        ASSERT_EQ(writer->OpenLogFile(Bstr(path).get()), S_OK);
        EXPECT_EQ(add(writer.get(), 1, "u", "i"), kAddEntryFailed);
    }
}

TEST_F(ScrivaneTest, CyclingReplacesTheOldestEntryInPlace) {
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path, "Cyc", 0, 1, 1), S_OK);  // cycles past 1 kilobyte
    int appended = 0;
    while (fileText(path).size() / 1024 <= 1) {
        ASSERT_EQ(add(writer.get(), 1, "u", "e" + std::to_string(++appended)), S_OK);
    }
    const std::size_t lineCount = fileLines(path).size();
    std::vector<long> ids = lineIndexes(path);
    ASSERT_EQ(ids.size(), std::size_t(appended));
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), appended);

    // The next entry gets id 0 and replaces the first entry line.
    ASSERT_EQ(add(writer.get(), 1, "u", "wrap"), S_OK);
    ids = lineIndexes(path);
    EXPECT_EQ(ids.front(), 0);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(fileLines(path)[4], "0");
    ASSERT_EQ(add(writer.get(), 1, "u", "after"), S_OK);
    ids = lineIndexes(path);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(fileLines(path).size(), lineCount);

    // The reader hands them out in file order: newest first here, then the oldest.
    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), std::size_t(appended));
    EXPECT_EQ(entries[0].info, "wrap");
    EXPECT_EQ(entries[1].info, "after");
    EXPECT_EQ(entries[2].info, "e3");

    // A new writer object of the same full log cycles at once.
    ComPtr<Izo_LogWrite> second;
    ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogWrite, second), S_OK);
    ASSERT_EQ(second->AddLogEntryEx(Bstr(path).get(), 1, 0, Bstr("u").get(), 0, Bstr("second").get()), S_OK);
    EXPECT_EQ(lineIndexes(path)[2], 2);
    EXPECT_EQ(fileLines(path).size(), lineCount);
}

TEST_F(ScrivaneTest, CyclingKeepsItsPlaceAcrossWraps) {
    // A full log goes round its cycle more than twice, each entry from a new
    // writer (as from another program): every entry lands on the line after
    // the newest, the file never grows, and each wrap starts at the first line.
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path, "Cyc", 0, 1, 1), S_OK);
    int lines = 0;
    while (fileText(path).size() / 1024 <= 1) {
        ASSERT_EQ(add(writer.get(), 1, "u", "fill"), S_OK);
        ++lines;
    }
    const std::size_t bytes = fileText(path).size();
    const int appends = 2 * lines + 3;
    for (int i = 0; i < appends; ++i) {
        ComPtr<Izo_LogWrite> one;
        ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogWrite, one), S_OK);
        ASSERT_EQ(one->AddLogEntryEx(Bstr(path).get(), 1, 0, Bstr("u").get(), 0, Bstr("r" + std::to_string(i)).get()),
                  S_OK);
        ASSERT_EQ(fileText(path).size(), bytes) << "append " << i;
    }
    std::vector<long> expectedIds(lines);
    for (int i = 0; i < lines; ++i) expectedIds[i] = i;
    EXPECT_EQ(lineIndexes(path), expectedIds);
    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), std::size_t(lines));
    for (int line = 0; line < lines; ++line) {
        // The third round wrote the first three lines; the second the rest.
        const int round = line < 3 ? 2 : 1;
        EXPECT_EQ(entries[line].info, "r" + std::to_string(round * lines + line)) << "line " << line;
    }
}

// A writer appending by path again and again takes what its own last append
// left only while nobody else has written since: what another writer or
// another program wrote in between is followed, never overwritten, in a
// growing log and in one that cycles.
TEST_F(ScrivaneTest, RepeatedAppendsByPathFollowWhatOthersWroteSince) {
    ComPtr<Izo_LogWrite> other;
    ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogWrite, other), S_OK);
    auto append = [](Izo_LogWrite* by, const std::string& path, const std::string& info) {
        return by->AddLogEntryEx(Bstr(path).get(), 1, 0, Bstr("u").get(), 0, Bstr(info).get());
    };

    // Another program rewrites the growing log in place (the same file) as a
    // log whose newest entry has id 41: the next append goes on from there.
    const std::string growing = logPath("growing.log");
    ASSERT_EQ(createLog(writer.get(), growing), S_OK);
    ASSERT_EQ(writer->CloseLogFile(), S_OK);
    std::string rewritten = "41,1,20240101,120000,0,0,u,rewritten";
    rewritten.resize(121, ' ');
    for (const char* step : {"a1", "a2", "b1", "a3", "rewrite", "a4", "a5"}) {
        if (step == std::string("rewrite")) {
            writeFile(growing, "VLM\r\n1.0.0\r\nGrowing\r\n0\r\n41\r\n300\r\n1\r\n0\r\n          \r\n" + rewritten +
                                   "\r\n");
        } else {
            ASSERT_EQ(append(step[0] == 'a' ? writer.get() : other.get(), growing, step), S_OK) << step;
        }
    }
    EXPECT_EQ(lineIndexes(growing), (std::vector<long>{41, 42, 43}));
    EXPECT_EQ(fileLines(growing)[4], "43");
    std::vector<std::string> infos;
    for (const auto& e : readAll(reader.get(), growing)) infos.push_back(e.info);
    EXPECT_EQ(infos, (std::vector<std::string>{"rewritten", "a4", "a5"}));

    // Cycling past 1 KB: two appends of one writer, then one of the other,
    // round the cycle more than twice; each lands on the line after the last.
    const std::string cycling = logPath("cycling.log");
    ASSERT_EQ(createLog(writer.get(), cycling, "Cyc", 0, 1, 1), S_OK);
    ASSERT_EQ(writer->CloseLogFile(), S_OK);
    int lines = 0;
    while (fileText(cycling).size() / 1024 <= 1) {
        ASSERT_EQ(append(writer.get(), cycling, "fill"), S_OK);
        ++lines;
    }
    const std::size_t bytes = fileText(cycling).size();
    for (int i = 0; i < 2 * lines + 3; ++i) {
        const std::string info = "r" + std::to_string(i);
        ASSERT_EQ(append(i % 3 == 2 ? other.get() : writer.get(), cycling, info), S_OK);
        ASSERT_EQ(fileText(cycling).size(), bytes) << info;
        const auto entries = readAll(reader.get(), cycling);
        ASSERT_EQ(entries.size(), std::size_t(lines));
        ASSERT_EQ(entries[std::size_t(i % lines)].info, info);
    }
}

TEST_F(ScrivaneTest, EntryCountLimitHoldsForEveryWriter) {
    // A log limited to three entries (cycle type 2). Each entry comes from a
    // new writer object, as from another process: once ids have wrapped, the
    // entry count of the file still says that the log is full.
    const std::string path = logPath();
    writeFile(path, "VLM\r\n1.0.0\r\nCount\r\n0\r\n0\r\n3\r\n2\r\n0\r\n\r\n");
    for (int i = 0; i < 8; ++i) {
        ComPtr<Izo_LogWrite> one;
        ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogWrite, one), S_OK);
        ASSERT_EQ(one->AddLogEntryEx(Bstr(path).get(), 1, 0, Bstr("u").get(), 0, Bstr("n" + std::to_string(i)).get()),
                  S_OK);
    }
    EXPECT_EQ(lineIndexes(path).size(), 3u);
    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), 3u);
    std::vector<std::string> infos;
    for (const auto& e : entries) infos.push_back(e.info);
    std::sort(infos.begin(), infos.end());
    EXPECT_EQ(infos, (std::vector<std::string>{"n5", "n6", "n7"}));
}

// An append by path finds the file the path names now: a log moved aside or
// deleted since the last append to that path is left alone.
TEST_F(ScrivaneTest, AppendByPathFollowsAReplacedFile) {
    const std::string path = logPath();
    const std::string aside = logPath("aside.log");
    ASSERT_EQ(createLog(writer.get(), path), S_OK);
    ASSERT_EQ(writer->CloseLogFile(), S_OK);
    auto append = [&](const char* info) {
        return writer->AddLogEntryEx(Bstr(path).get(), 1, 0, Bstr("u").get(), 0, Bstr(info).get());
    };
    ASSERT_EQ(append("first"), S_OK);
    ASSERT_EQ(std::rename(path.c_str(), aside.c_str()), 0);
    ComPtr<Izo_LogWrite> other;
    ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogWrite, other), S_OK);
    ASSERT_EQ(createLog(other.get(), path), S_OK);
    ASSERT_EQ(append("second"), S_OK);
    EXPECT_EQ(lineIndexes(aside), (std::vector<long>{1}));
    EXPECT_EQ(lineIndexes(path), (std::vector<long>{1}));
    EXPECT_NE(fileText(path).find("second"), std::string::npos);
    // Gone without a successor: the append fails and writes nowhere.
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_TRUE(FAILED(append("third")));
    EXPECT_EQ(fileText(aside).find("third"), std::string::npos);
    // Back again in the same file: the entries go on from its last id.
    ASSERT_EQ(std::rename(aside.c_str(), path.c_str()), 0);
    ASSERT_EQ(append("fourth"), S_OK);
    EXPECT_EQ(lineIndexes(path), (std::vector<long>{1, 2}));
}

TEST_F(ScrivaneTest, HeaderRewriteNeverReachesTheFirstEntry) {
    // A log as written before: the empty line is all the room the header has,
    // and the id is about to need a fourth digit.
    const std::string path = logPath();
    std::string entry = "999,1,20240101,120000,0,0,u,first";
    entry.resize(121, ' ');
    writeFile(path, "VLM\r\n1.0.0\r\nOld\r\n0\r\n999\r\n300\r\n1\r\n0\r\n" + entry + "\r\n");
    ASSERT_EQ(writer->OpenLogFile(Bstr(path).get()), S_OK);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(add(writer.get(), 2, "u", "next"), S_OK);
    }
    auto lines = fileLines(path);
    EXPECT_EQ(lines[4], "1002");
    EXPECT_EQ(lineIndexes(path), (std::vector<long>{999, 1000, 1001, 1002}));
    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].info, "first");

    // A new log keeps its ids clear of the entries all the way to ten digits.
    const std::string fresh = logPath("fresh.log");
    ASSERT_EQ(createLog(writer.get(), fresh), S_OK);
    for (int i = 0; i < 120; ++i) {
        ASSERT_EQ(add(writer.get(), 2, "u", "n" + std::to_string(i)), S_OK);
    }
    lines = fileLines(fresh);
    EXPECT_EQ(lines[4], "120");
    ASSERT_EQ(lineIndexes(fresh).size(), 120u);
    EXPECT_EQ(lineIndexes(fresh).front(), 1);
}

TEST_F(ScrivaneTest, ReaderHandsOutASnapshotAndSkipsNonEntries) {
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path), S_OK);
    HRESULT first = S_OK;
    EXPECT_TRUE(readAll(reader.get(), path, &first).empty());
    EXPECT_EQ(first, kNoMoreEntries);

    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(add(writer.get(), short(i), "u", "e" + std::to_string(i)), S_OK);
    }
    // A line whose flags field holds two digits is no entry.
    std::string odd = "4,1,20240101,120000,0,12,u,odd";
    odd.resize(121, ' ');
    std::ofstream(path, std::ios::binary | std::ios::app) << odd << "\r\n";

    ASSERT_EQ(reader->OpenLogFile(Bstr(path).get()), S_OK);
    short id = -1, flags = 0, status = 0;
    Bstr date, time, user, info;
    ASSERT_EQ(reader->GetFirstLogEntry(&id, date.put(), time.put(), &flags, user.put(), &status, info.put()), S_OK);
    EXPECT_EQ(id, 0);
    ASSERT_EQ(add(writer.get(), 9, "u", "later"), S_OK);  // not in this snapshot
    EXPECT_EQ(reader->GetNextLogEntry(&id, date.put(), time.put(), &flags, user.put(), &status, info.put()), S_OK);
    EXPECT_EQ(reader->GetNextLogEntry(&id, date.put(), time.put(), &flags, user.put(), &status, info.put()), S_OK);
    EXPECT_EQ(info.view(), "e2");
    EXPECT_EQ(reader->GetNextLogEntry(&id, date.put(), time.put(), &flags, user.put(), &status, info.put()),
              kNoMoreEntries);
    ASSERT_EQ(reader->GetFirstLogEntry(&id, date.put(), time.put(), &flags, user.put(), &status, info.put()), S_OK);
    EXPECT_EQ(readAll(reader.get(), path).size(), 4u);

    ComPtr<Izo_LogRead> unopened;
    ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogRead, unopened), S_OK);
    EXPECT_EQ(unopened->GetFirstLogEntry(&id, date.put(), time.put(), &flags, user.put(), &status, info.put()),
              kNotOpen);
    EXPECT_EQ(unopened->OpenLogFile(Bstr(logPath("none.log")).get()), kNotOpen);
}

TEST_F(ScrivaneTest, EventNamesComeFromLogIni) {
    Bstr name;
    ASSERT_EQ(reader->GetEventName(46, name.put()), S_OK);
    EXPECT_EQ(name.view(), "Dial Reason");
    for (short bad : {short(47), short(-1)}) {
        ASSERT_EQ(reader->GetEventName(bad, name.put()), S_OK);
        EXPECT_EQ(name.view(), "No description");
    }
    // Every key is listed in log.ini; a changed text is used by new objects.
    const std::string ini = (platform::programFolder() / "log.ini").string();
    EXPECT_EQ(platform::iniReadSection(ini, "LogNames").size(), 47u);
    ASSERT_TRUE(platform::iniWriteString(ini, "LogNames", "Connect", "Verbunden"));
    ComPtr<Izo_LogRead> fresh;
    ASSERT_EQ(platform::com::createInstance(CLSID_zo_LogRead, fresh), S_OK);
    ASSERT_EQ(fresh->GetEventName(LOGEVENTID_CONNECT, name.put()), S_OK);
    EXPECT_EQ(name.view(), "Verbunden");
}

TEST_F(ScrivaneTest, DispatchReachesTheWriter) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(writer.queryInterface(dispatch), S_OK);
    char method[] = "addlogentryex";
    LPOLESTR names[] = {method};
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(platform::com::IID_NULL, names, 1, 0, &id), S_OK);
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path), S_OK);
    writer->CloseLogFile();
    using platform::com::Variant;
    const Variant args[] = {Variant::text(path), Variant::i4(3), Variant::i4(0), Variant::text("disp"),
                            Variant::i4(0), Variant::text("via dispatch")};
    ASSERT_EQ(platform::com::invokeByDispid(dispatch.get(), id, std::span<const Variant>(args)), S_OK);
    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].info, "via dispatch");
}

// A writing process: appends `count` entries whose info names the process and
// the entry's number, each through AddLogEntryEx as the log client does.
VELMOOR_TEST_CHILD(log_writer) {
    if (args.size() != 3 || CoInitialize(nullptr) != S_OK) return 2;
    ComPtr<Izo_LogWrite> writer;
    if (platform::com::createInstance(CLSID_zo_LogWrite, writer) != S_OK) return 3;
    const int count = std::stoi(args[2]);
    for (int i = 0; i < count; ++i) {
        std::string info = "p" + args[1] + " " + std::to_string(i);
        if (writer->AddLogEntryEx(Bstr(args[0]).get(), 10, 0, Bstr("w" + args[1]).get(), 0, Bstr(info).get()) !=
            S_OK) {
            return 4;
        }
    }
    writer.reset();
    CoUninitialize();
    return 0;
}

namespace {

// Runs four writing processes of `count` entries each on the log at path.
void runFourWriters(const std::string& path, int count) {
    std::vector<velmoor::testing::ChildProcess> children;
    for (int p = 0; p < 4; ++p) {
        children.push_back(velmoor::testing::ChildProcess::start(
            "log_writer", {path, std::to_string(p), std::to_string(count)}));
    }
    for (auto& child : children) {
        EXPECT_EQ(child.wait(std::chrono::seconds(90)), 0);
    }
}

struct Origin {
    int process;
    int number;
};

Origin originOf(const std::string& info) {
    Origin o{-1, -1};
    std::sscanf(info.c_str(), "p%d %d", &o.process, &o.number);
    return o;
}

}  // namespace

TEST_F(ScrivaneTest, FourProcessesAppendEveryEntryOnce) {
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path, "Activities Log", 0, 1, 100000), S_OK);
    writer->CloseLogFile();
    runFourWriters(path, 1000);

    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), 4000u);
    EXPECT_EQ(fileLines(path)[4], "4000");
    const std::vector<long> ids = lineIndexes(path);
    ASSERT_EQ(ids.size(), 4000u);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ASSERT_EQ(ids[i], long(i + 1)) << "line " << i;
    }
    std::map<int, int> nextOf;  // each process's entries once, in its own order
    for (const auto& e : entries) {
        Origin o = originOf(e.info);
        ASSERT_GE(o.process, 0) << e.info;
        ASSERT_EQ(o.number, nextOf[o.process]) << e.info;
        ++nextOf[o.process];
    }
    EXPECT_EQ(nextOf, (std::map<int, int>{{0, 1000}, {1, 1000}, {2, 1000}, {3, 1000}}));
}

TEST_F(ScrivaneTest, FourProcessesAppendWhileTheLogCycles) {
    const std::string path = logPath();
    ASSERT_EQ(createLog(writer.get(), path, "Activities Log", 0, 1, 40), S_OK);  // cycles past 41 kilobytes
    writer->CloseLogFile();
    runFourWriters(path, 1000);

    const std::vector<long> ids = lineIndexes(path);
    const std::size_t lines = ids.size();
    ASSERT_GT(lines, 300u);
    ASSERT_LT(lines, 400u);
    // Ids run on by one from line to line but at most at one place, where the
    // newest entry (the header's last entry id) meets the oldest.
    std::size_t breaks = 0;
    for (std::size_t i = 1; i < lines; ++i) {
        breaks += ids[i] != ids[i - 1] + 1;
    }
    ASSERT_LE(breaks, 1u);
    const long newestId = std::stol(fileLines(path)[4]);
    auto newest = std::find(ids.begin(), ids.end(), newestId);
    ASSERT_NE(newest, ids.end());
    const std::size_t oldest = std::size_t(newest - ids.begin() + 1) % lines;
    std::vector<long> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "duplicate ids";

    // From the oldest line round to the newest, every process's entries come in
    // its own order, and what survives of each is its latest entries.
    auto entries = readAll(reader.get(), path);
    ASSERT_EQ(entries.size(), lines);
    std::map<int, std::vector<int>> numbers;
    for (std::size_t k = 0; k < lines; ++k) {
        Origin o = originOf(entries[(oldest + k) % lines].info);
        ASSERT_GE(o.process, 0);
        numbers[o.process].push_back(o.number);
    }
    for (const auto& [process, seen] : numbers) {
        SCOPED_TRACE(process);
        for (std::size_t i = 1; i < seen.size(); ++i) {
            ASSERT_EQ(seen[i], seen[i - 1] + 1);
        }
        EXPECT_EQ(seen.back(), 999);
    }
}

TEST_F(ScrivaneTest, LibraryStampsTheVersionItsFileCarries) {
    // The library stamps once per process, when it starts: a process of its
    // own starts it afresh, whatever this process has done with it before.
    std::filesystem::remove(platform::windowsFolder() / "Quennel.ini");
    auto child = velmoor::testing::ChildProcess::start("log_writer", {logPath(), "0", "0"});
    ASSERT_EQ(child.wait(std::chrono::seconds(60)), 0);
    EXPECT_EQ(platform::iniReadValue("Quennel.ini", "Version", "Scrivane"), "1.0.0.0");
    EXPECT_TRUE(platform::iniReadValue("Quennel.ini", "Last Access", "Scrivane").has_value());
}
