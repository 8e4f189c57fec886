#pragma once
// A stand-in for NetworkManager's nmcli, written into the test's home and put
// first on PATH. Its connections are folders under <home>/nm/conn/<name> with
// one file per setting; active ones have <home>/nm/active/<name> holding their
// state. Every call is appended to <home>/nm/calls. A file <home>/nm/fail_up
// makes activation fail.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace fakenm {

inline constexpr const char* kScript = R"SH(#!/bin/bash
nm="$FAKE_NM"
echo "$*" >> "$nm/calls"
secrets=0; get=""; terse=0; fields=""
while [[ "$1" == -* ]]; do
  case "$1" in
    -s) secrets=1; shift ;;
    -g) get="$2"; shift 2 ;;
    -t) terse=1; shift ;;
    -f) fields="$2"; shift 2 ;;
    *) shift ;;
  esac
done
esc() { local s="${1//\\/\\\\}"; printf '%s' "${s//:/\\:}"; }
[[ "$1" == "connection" ]] || { echo "Error: unknown object" >&2; exit 2; }
verb="$2"; shift 2
if [[ "$1" == "id" ]]; then shift; fi
name="$1"
case "$verb" in
  show)
    if [[ "$name" == "--active" ]]; then
      for f in "$nm"/active/*; do [[ -e "$f" ]] || continue
        echo "$(esc "$(basename "$f")"):$(cat "$f")"; done; exit 0
    fi
    if [[ -z "$name" ]]; then
      for d in "$nm"/conn/*; do [[ -e "$d" ]] || continue; esc "$(basename "$d")"; echo; done; exit 0
    fi
    [[ -d "$nm/conn/$name" ]] || { echo "Error: $name - no such connection profile." >&2; exit 10; }
    if [[ -n "$get" ]]; then
      if [[ "$get" == *password* && $secrets == 0 ]]; then echo; exit 0; fi
      if [[ "$get" == IP4.* && ! -e "$nm/active/$name" ]]; then echo; exit 0; fi
      cat "$nm/conn/$name/$get" 2>/dev/null; echo; exit 0
    fi
    for f in "$nm/conn/$name"/*; do echo "$(basename "$f"):$(cat "$f")"; done; exit 0 ;;
  up)
    [[ -d "$nm/conn/$name" ]] || { echo "Error: unknown connection '$name'." >&2; exit 10; }
    if [[ -e "$nm/fail_up" ]]; then echo "Error: Connection activation failed: no carrier" >&2; exit 4; fi
    printf 'activated' > "$nm/active/$name"; exit 0 ;;
  down)
    [[ -e "$nm/active/$name" ]] || { echo "Error: '$name' is not an active connection." >&2; exit 10; }
    rm -f "$nm/active/$name"; exit 0 ;;
  modify)
    [[ -d "$nm/conn/$name" ]] || { echo "Error: unknown connection '$name'." >&2; exit 10; }
    shift
    while [[ $# -ge 2 ]]; do
      if [[ "$1" == "connection.id" ]]; then mv "$nm/conn/$name" "$nm/conn/$2"; name="$2"
      else
        [[ -e "$nm/conn/$name/$1" ]] || { echo "Error: invalid property '$1'." >&2; exit 2; }
        printf '%s' "$2" > "$nm/conn/$name/$1"
      fi
      shift 2
    done; exit 0 ;;
  delete)
    [[ -d "$nm/conn/$name" ]] || { echo "Error: unknown connection '$name'." >&2; exit 10; }
    rm -rf "$nm/conn/$name" "$nm/active/$name"; exit 0 ;;
esac
echo "Error: unknown command" >&2; exit 2
)SH";

inline std::filesystem::path home() { return std::filesystem::path(std::getenv("VELMOOR_HOME")); }
inline std::filesystem::path stateDir() { return home() / "nm"; }

// The PATH the process started with. Each test sets PATH anew from it, so a
// test that emptied PATH or put an earlier test's fake first does not leave
// that to the tests after it in the same process.
inline const std::string& startingPath() {
    static const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
    return path;
}

// Writes the fake and puts it first on PATH.
inline void install() {
    const auto bin = home() / "fake-bin";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(stateDir() / "conn");
    std::filesystem::create_directories(stateDir() / "active");
    const auto script = bin / "nmcli";
    std::ofstream(script) << kScript;
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string path = bin.string() + ":" + startingPath();
    ::setenv("PATH", path.c_str(), 1);
    ::setenv("FAKE_NM", stateDir().c_str(), 1);
}

// Leaves PATH with no nmcli at all.
inline void removeFromPath() {
    startingPath();  // kept before it is changed
    const auto bin = home() / "empty-bin";
    std::filesystem::create_directories(bin);
    ::setenv("PATH", bin.c_str(), 1);
}

inline void addConnection(const std::string& name, const std::map<std::string, std::string>& settings) {
    const auto dir = stateDir() / "conn" / name;
    std::filesystem::create_directories(dir);
    for (const auto& [key, value] : settings) std::ofstream(dir / key) << value;
}

inline void setActive(const std::string& name, const std::string& state) {
    std::ofstream(stateDir() / "active" / name) << state;
}

inline bool isActive(const std::string& name) { return std::filesystem::exists(stateDir() / "active" / name); }

// How many calls began with `prefix`.
inline int calls(const std::string& prefix) {
    std::ifstream in(stateDir() / "calls");
    std::string line;
    int n = 0;
    while (std::getline(in, line)) n += line.rfind(prefix, 0) == 0;
    return n;
}

}  // namespace fakenm
