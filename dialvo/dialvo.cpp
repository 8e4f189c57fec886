// The dial-up library over NetworkManager: a dial-up entry is a connection
// profile, dialling brings it up, hanging up takes it down again. Everything
// goes through the nmcli program, found on PATH by DialvoLink; the entry editor
// dialogs are those of nm-connection-editor when it is installed.

#include "dialvo/dialvo.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "dialvo/nm_command.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using dialvo::CommandResult;

constexpr const char* kNotSupported = "Function Not supported ";
constexpr const char* kCantLoad = "Can't Load Library";
constexpr const char* kUnknownError = "Unknown Error";
constexpr const char* kBadParameters = "One or more of the parameters are incorrect.";
constexpr const char* kDialProblem = "There is a problem with the dial-up connection.";
constexpr const char* kCancelled =
    "User clicked either the Work Offline or Cancel button on the Internet connection dialog box.";
constexpr const char* kLineDisconnected = "The line is disconnected";
constexpr const char* kNoBuffer = "Can't allocate buffer";
constexpr int kHangUpSettleMs = 3000;

// nmcli's exit codes.
constexpr int kNmInvalidInput = 2;
constexpr int kNmActivationFailed = 4;
constexpr int kNmNoSuchObject = 10;

// Entry connection states.
constexpr int kStateConnected = 5;
constexpr int kStateDisconnected = 6;
constexpr int kStateOther = 7;

struct LibraryState {
    std::string nmcli;   // full path; empty while not linked
    std::string editor;  // nm-connection-editor; empty when missing
    char error[256] = {};
    std::string dialledEntry;  // the entry this library brought up
    bool dialled = false;
};

LibraryState g_state;

// The module's own trace object, built on first use rather than at load time:
// the library is loaded before the program has chosen its home folder, where
// the trace configuration lives.
void ensureTrace() {
    static const bool started = [] {
        if (!LumoDebIsCreated()) {
            LumoDebCreate(kLumoDebFromFile);
        }
        gpLumoDeb->SetPrefix("DIALVO :");
        gpLumoDeb->Trace(5, "DIALVO Started...");
        return true;
    }();
    (void)started;
}

void setError(const std::string& text) {
    std::snprintf(g_state.error, sizeof g_state.error, "%s", text.c_str());
    gpLumoDeb->Trace(1, "DialvoSetRdsErrString Error %s", g_state.error);
}

// The system's own message for a failed nmcli run: the first line it wrote to
// its error output, else "Unknown Error <code>".
Zo_Rdas_Ret_Enum failWith(const CommandResult& run) {
    std::string line;
    std::istringstream lines(run.err);
    while (std::getline(lines, line)) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) break;
        line.clear();
    }
    if (!run.started || line.empty()) {
        char text[64];
        std::snprintf(text, sizeof text, "%s %d", kUnknownError, run.started ? run.exitCode : -1);
        setError(text);
    } else {
        setError(line);
    }
    return ZO_RDAS_FAILED;
}

bool linked() { return !g_state.nmcli.empty(); }

Zo_Rdas_Ret_Enum notSupported() {
    setError(kNotSupported);
    return ZO_RDAS_NO_FUNCTION;
}

CommandResult nmcli(const std::vector<std::string>& args) {
    return dialvo::runCommand(g_state.nmcli, args);
}

std::vector<std::string> outputLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream stream(out);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

bool validName(const char* name) { return name != nullptr && name[0] != '\0' && std::strlen(name) < 256; }

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The connection state of an entry: 5 connected, 6 disconnected, 7 anything
// else; 0 when the active connections cannot be listed.
int entryState(const std::string& entry) {
    const CommandResult run = nmcli({"-t", "-f", "NAME,STATE", "connection", "show", "--active"});
    if (!run.started || run.exitCode != 0) {
        failWith(run);
        return 0;
    }
    for (const auto& line : outputLines(run.out)) {
        const auto fields = dialvo::splitTerse(line);
        if (fields.size() >= 2 && equalNoCase(fields[0], entry)) {
            return fields[1] == "activated" ? kStateConnected : kStateOther;
        }
    }
    return kStateDisconnected;
}

// The "<type>.username" and "<type>.password" settings of a connection type;
// false for types that carry no dial credentials.
bool credentialFields(const std::string& type, std::string& user, std::string& password) {
    if (type == "gsm" || type == "cdma" || type == "pppoe") {
        user = type + ".username";
        password = type + ".password";
        return true;
    }
    if (type == "vpn") {
        user = "vpn.user-name";
        password.clear();
        return true;
    }
    return false;
}

// One setting of an entry (nmcli -g), secrets included when asked.
bool entryValue(const std::string& entry, const std::string& field, bool secrets, std::string& value) {
    std::vector<std::string> args;
    if (secrets) args.push_back("-s");
    args.insert(args.end(), {"-g", field, "connection", "show", "id", entry});
    const CommandResult run = nmcli(args);
    if (!run.started || run.exitCode != 0) {
        failWith(run);
        return false;
    }
    value = run.out;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return true;
}

}  // namespace

extern "C" {

Zo_Rdas_Ret_Enum DialvoLink(void) {
    ensureTrace();
    const auto nm = dialvo::findOnPath("nmcli");
    if (!nm) {
        g_state.nmcli.clear();
        g_state.editor.clear();
        setError(kCantLoad);
        return ZO_RDAS_NO_LIBRARY;
    }
    g_state.nmcli = *nm;
    g_state.editor = dialvo::findOnPath("nm-connection-editor").value_or(std::string());
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoUnLink(void) {
    ensureTrace();
    if (linked()) DialvoHangUp();
    g_state.nmcli.clear();
    g_state.editor.clear();
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoConnect(const char* entryName, Zo_Rds_Dial_Type dialType) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(entryName)) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    const std::string entry = entryName;
    const int state = entryState(entry);
    if (state == kStateConnected) return ZO_RDAS_OK;
    if (state != kStateDisconnected) {
        if (state == kStateOther) setError(kDialProblem);
        return ZO_RDAS_FAILED;
    }
    // nmcli itself never prompts here (its input is empty); a secret that is
    // missing is asked for by the desktop's secret agent when one runs, which is
    // the system's own prompt. Both dial types therefore run the same command.
    (void)dialType;
    const CommandResult run = nmcli({"connection", "up", "id", entry});
    if (!run.started) return failWith(run);
    if (run.exitCode != 0) {
        switch (run.exitCode) {
        case kNmInvalidInput:
        case kNmNoSuchObject:
            setError(kBadParameters);
            return ZO_RDAS_FAILED;
        case kNmActivationFailed:
            if (run.err.find("cancel") != std::string::npos) {
                setError(kCancelled);
                return ZO_RDAS_CANCELLED;
            }
            setError(kDialProblem);
            return ZO_RDAS_FAILED;
        default:
            setError(kUnknownError);
            return ZO_RDAS_FAILED;
        }
    }
    g_state.dialledEntry = entry;
    g_state.dialled = true;
    const int after = entryState(entry);
    if (after == kStateConnected) return ZO_RDAS_OK;
    if (after == 0) g_state.dialled = false;
    return ZO_RDAS_FAILED;
}

Zo_Rdas_Ret_Enum DialvoConnectAndGetAddress(const char* entryName, char* address, uint32_t addressSize,
                                            Zo_Rds_Dial_Type dialType) {
    ensureTrace();
    if (address != nullptr && addressSize > 0) address[0] = '\0';
    const Zo_Rdas_Ret_Enum connected = DialvoConnect(entryName, dialType);
    if (connected == ZO_RDAS_NO_FUNCTION) return connected;
    if (connected != ZO_RDAS_OK) return ZO_RDAS_FAILED;
    return DialvoGetServerIp(entryName, address, addressSize) == ZO_RDAS_OK ? ZO_RDAS_OK : ZO_RDAS_FAILED;
}

Zo_Rdas_Ret_Enum DialvoHangUp(void) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!g_state.dialled) return ZO_RDAS_OK;
    const CommandResult run = nmcli({"connection", "down", "id", g_state.dialledEntry});
    g_state.dialled = false;
    g_state.dialledEntry.clear();
    // Give the line time to settle before anyone dials again.
    std::this_thread::sleep_for(std::chrono::milliseconds(kHangUpSettleMs));
    if (!run.started || run.exitCode != 0) {
        setError(kUnknownError);
        return ZO_RDAS_FAILED;
    }
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoEnumEntries(_ZoRsd_Entry_Name* entries, uint32_t entriesBytes, uint32_t* count) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (count == nullptr) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    const CommandResult run = nmcli({"-t", "-f", "NAME", "connection", "show"});
    if (!run.started || run.exitCode != 0) return failWith(run);
    std::vector<std::string> names;
    try {
        for (const auto& line : outputLines(run.out)) {
            const auto fields = dialvo::splitTerse(line);
            if (!fields.empty() && !fields[0].empty()) names.push_back(fields[0]);
        }
    } catch (const std::bad_alloc&) {
        setError(kNoBuffer);
        return ZO_RDAS_FAILED;
    }
    if (entries == nullptr) {
        *count = static_cast<uint32_t>(names.size());
        return ZO_RDAS_OK;
    }
    const std::size_t room = entriesBytes / sizeof(_ZoRsd_Entry_Name);
    const std::size_t n = std::min(room, names.size());
    for (std::size_t i = 0; i < n; ++i) {
        std::memset(entries[i].szEntryName, 0, sizeof entries[i].szEntryName);
        fixed_text::Write(entries[i].szEntryName, sizeof entries[i].szEntryName, names[i]);
    }
    *count = static_cast<uint32_t>(n);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoGetEntryDialParam(const char* entryName, _Dialvo_Dial_Params* params) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(entryName) || params == nullptr) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    std::memset(params, 0, sizeof *params);
    std::string type;
    if (!entryValue(entryName, "connection.type", false, type)) return ZO_RDAS_FAILED;
    fixed_text::Write(params->szDomain, sizeof params->szDomain, type);
    std::string userField;
    std::string passwordField;
    if (!credentialFields(type, userField, passwordField)) return ZO_RDAS_OK;
    std::string user;
    if (!entryValue(entryName, userField, false, user)) return ZO_RDAS_FAILED;
    fixed_text::Write(params->szUserName, sizeof params->szUserName, user);
    if (!passwordField.empty()) {
        // Only a password the system keeps is shown; one asked for at each dial
        // reads back empty.
        std::string password;
        if (entryValue(entryName, passwordField, true, password)) {
            fixed_text::Write(params->szPassword, sizeof params->szPassword, password);
        }
    }
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoSetEntryDialParam(const char* entryName, const _Dialvo_Dial_Params* params) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(entryName) || params == nullptr) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    std::string type;
    if (!entryValue(entryName, "connection.type", false, type)) return ZO_RDAS_FAILED;
    std::string userField;
    std::string passwordField;
    if (!credentialFields(type, userField, passwordField)) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    const std::string user = fixed_text::Read(params->szUserName, 255);
    const std::string password = fixed_text::Read(params->szPassword, 255);
    std::vector<std::string> args = {"connection", "modify", "id", entryName, userField, user};
    if (!passwordField.empty()) {
        args.push_back(passwordField);
        args.push_back(password);
    }
    const CommandResult run = nmcli(args);
    if (!run.started || run.exitCode != 0) return failWith(run);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoWizardCreateEntry(void) {
    ensureTrace();
    if (!linked() || g_state.editor.empty()) return notSupported();
    const CommandResult run = dialvo::runCommand(g_state.editor, {"--create"});
    if (!run.started || run.exitCode != 0) return failWith(run);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoEditEntry(const char* entryName) {
    ensureTrace();
    if (!linked() || g_state.editor.empty()) return notSupported();
    if (!validName(entryName)) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    std::string uuid;
    if (!entryValue(entryName, "connection.uuid", false, uuid)) return ZO_RDAS_FAILED;
    const CommandResult run = dialvo::runCommand(g_state.editor, {"--edit=" + uuid});
    if (!run.started || run.exitCode != 0) return failWith(run);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoDeleteEntry(const char* entryName) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(entryName)) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    const CommandResult run = nmcli({"connection", "delete", "id", entryName});
    if (!run.started || run.exitCode != 0) return failWith(run);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoRenameEntry(const char* oldName, const char* newName) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(oldName) || !validName(newName)) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    const CommandResult run = nmcli({"connection", "modify", "id", oldName, "connection.id", newName});
    if (!run.started || run.exitCode != 0) return failWith(run);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoGetServerIp(const char* entryName, char* address, uint32_t addressSize) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(entryName) || address == nullptr || addressSize == 0) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    const int state = entryState(entryName);
    if (state == 0) return ZO_RDAS_FAILED;
    if (state != kStateConnected) {
        setError(kLineDisconnected);
        return ZO_RDAS_FAILED;
    }
    // The far end of a point-to-point link is the gateway of its IPv4 settings.
    std::string gateway;
    if (!entryValue(entryName, "IP4.GATEWAY", false, gateway)) return ZO_RDAS_FAILED;
    if (gateway.empty()) {
        setError(kUnknownError);
        return ZO_RDAS_FAILED;
    }
    fixed_text::Write(address, addressSize, gateway);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoGetEntryProperties(const char* entryName, char* properties, uint32_t size) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(entryName) || properties == nullptr || size == 0) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    const CommandResult run = nmcli({"-t", "connection", "show", "id", entryName});
    if (!run.started || run.exitCode != 0) return failWith(run);
    fixed_text::Write(properties, size, run.out);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoSetEntryProperties(const char* entryName, const char* properties) {
    ensureTrace();
    if (!linked()) return notSupported();
    if (!validName(entryName) || properties == nullptr) {
        setError(kBadParameters);
        return ZO_RDAS_FAILED;
    }
    std::vector<std::string> args = {"connection", "modify", "id", entryName};
    for (const auto& line : outputLines(properties)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            setError(kBadParameters);
            return ZO_RDAS_FAILED;
        }
        args.push_back(line.substr(0, colon));
        args.push_back(line.substr(colon + 1));
    }
    if (args.size() == 4) return ZO_RDAS_OK;
    const CommandResult run = nmcli(args);
    if (!run.started || run.exitCode != 0) return failWith(run);
    return ZO_RDAS_OK;
}

Zo_Rdas_Ret_Enum DialvoGetErrorString(char* text, uint32_t size) {
    ensureTrace();
    fixed_text::Write(text, size, g_state.error);
    g_state.error[0] = '\0';
    return ZO_RDAS_OK;
}

}  // extern "C"
