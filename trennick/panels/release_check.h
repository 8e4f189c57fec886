#pragma once
// The release check of an upgrade image: before a file named "ZO10.BIN"
// enters the send queue for a hardware unit, the release of the image is
// compared with the release the unit reports. An image older than the unit's
// release is refused; with the unit's release unknown the operator is asked.
// Any thread; the questions go through the callbacks.

#include <functional>
#include <string>

namespace trennick {

inline constexpr unsigned kStrImageOlder = 65242;
inline constexpr unsigned kStrUnitReleaseUnknown = 65247;

// The rank of a unit's release text: 10 to 15, 1 when unknown.
int UnitReleaseRank(const std::string& releaseText);
// The rank of an upgrade image file: 10 to 14 for a known image, 0 for none,
// -1 when the file cannot be read.
int ImageReleaseRank(const std::string& path);
// The version text shown for an image rank; empty for none.
std::string ImageVersionText(int rank);

struct ReleaseCheckUi {
    // The connected station's kind (0 none, 1 recorder, 2 unit) and release
    // text; false when there is no main window.
    std::function<bool(int& kind, std::string& release)> remote;
    // Tells a refusal (message id, image version, unit release).
    std::function<void(unsigned id, const std::string& image, const std::string& unit)> tell;
    // Asks a yes-or-no question; true for yes.
    std::function<bool(unsigned id, const std::string& image, const std::string& unit)> ask;
};

// 0: the file may be queued; 1: refused; -1: no main window.
int CheckReleaseFile(const std::string& path, const ReleaseCheckUi& ui);

}  // namespace trennick
