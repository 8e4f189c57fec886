#include "common/product_registry.h"

#include <cstring>

using namespace product_registry;

namespace {

constexpr char kRoot[] = "software\\";

std::string withSection(std::string path, std::string_view section) {
    if (!section.empty()) {
        path += '\\';
        path += section;
    }
    return path;
}

}  // namespace

std::string InstanceProductWord(std::string_view instanceId) {
    std::string word = kProduct;
    word += instanceId;
    return word;
}

std::string InstanceKeyPath(std::string_view instanceId, std::string_view section) {
    std::string path = kRoot;
    path += kCompany;
    path += '\\';
    path += InstanceProductWord(instanceId);
    path += '\\';
    path += kVersion;
    return withSection(std::move(path), section);
}

bool CopyInstanceKeyPath(const char* instanceId, const char* section, char* out, std::size_t outBytes) {
    std::string path = InstanceKeyPath(instanceId != nullptr ? instanceId : "", "");
    path += '\\';
    path += section != nullptr ? section : "";
    if (out == nullptr || path.size() >= outBytes) return false;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

std::string CommonKeyPath(std::string_view section) {
    std::string path = kRoot;
    path += kCompany;
    path += '\\';
    path += kProduct;
    path += '\\';
    path += kCommon;
    return withSection(std::move(path), section);
}
