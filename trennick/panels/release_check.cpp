#include "trennick/panels/release_check.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

namespace trennick {

namespace {

struct KnownImage {
    int rank;
    unsigned long long length;
    unsigned long long offset;
    const char* text;
};
// Tested in this order; the text is compared exactly at its offset.
constexpr KnownImage kImages[] = {
    {14, 1509636, 1402568, "Release 2.5"},
    {13, 1481092, 1376200, "Release 2.4"},
    {12, 1404548, 1306828, "Release 2.3"},
    {11, 1358276, 1277384, "Release 2.1"},
    {10, 1335084, 1258944, "Release 1.12"},
};

struct UnitRelease {
    int rank;
    const char* text;
};
constexpr UnitRelease kUnitReleases[] = {
    {11, "Release 2.1"}, {12, "Release 2.3"}, {13, "Release 2.4"}, {14, "Release 2.5"}, {15, "Release 2.6"},
};

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

}  // namespace

int UnitReleaseRank(const std::string& releaseText) {
    for (const auto& r : kUnitReleases) {
        if (releaseText == r.text) return r.rank;
    }
    return 1;
}

std::string ImageVersionText(int rank) {
    switch (rank) {
    case 10: return "version 1.12";
    case 11: return "version 2.1";
    case 12: return "version 2.3";
    case 13: return "version 2.4";
    case 14: return "version 2.5";
    default: return {};
    }
}

int ImageReleaseRank(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return -1;
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0) return -1;
    for (const auto& image : kImages) {
        if (static_cast<unsigned long long>(length) != image.length) continue;
        const std::size_t textBytes = std::strlen(image.text);
        std::string found(textBytes, '\0');
        in.clear();
        in.seekg(static_cast<std::streamoff>(image.offset));
        if (!in.read(found.data(), static_cast<std::streamsize>(textBytes))) return -1;
        if (found == image.text) return image.rank;
    }
    return 0;
}

int CheckReleaseFile(const std::string& path, const ReleaseCheckUi& ui) {
    if (path.empty()) return 0;
    const auto slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (upper(name) != "ZO10.BIN") return 0;
    int kind = 0;
    std::string release;
    if (!ui.remote || !ui.remote(kind, release)) return -1;
    if (kind != 2) return 0;
    const int unitRank = UnitReleaseRank(release);
    const int imageRank = ImageReleaseRank(path);
    if (imageRank == 0) return 0;
    const std::string image = ImageVersionText(imageRank);
    if (imageRank > 0 && imageRank < unitRank) {
        if (ui.tell) ui.tell(kStrImageOlder, image, release);
        return 1;
    }
    if (unitRank == 1) {
        if (ui.ask && !ui.ask(kStrUnitReleaseUnknown, image, release)) return 1;
    }
    return 0;
}

}  // namespace trennick
