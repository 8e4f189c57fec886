// The English texts of the program's user interface: the string table and the
// texts of the dialogs' controls.

#include "resources/glossel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>

namespace {

struct StringEntry {
    UINT id;
    const char* text;
};

// Sorted by id (checked once at start-up of the lookup).
constexpr StringEntry kStrings[] = {
    {306, "Velmoor - Error"},
    {307, "Velmoor - Question"},
    {308, "Velmoor - Information"},
    {311, "DejaVu Sans"},
    {321, "8"},
    {324, "PTZ control"},
    {325, "Save the picture to a file"},
    {501, "Version 1.0"},
    {10000, "Velmoor"},
    {32147, "Copy the picture to the clipboard"},
    {57347, "Velmoor"},
    {59401, "User name"},
    {59402, "Last login"},
    {59403, "%X, %x"},
    {59404, "A user of this name exists already."},
    {59405, "Select a user in the list first."},
    {59406, "Remove the selected user?"},
    {59407, "The users file could not be updated."},
    {59409, "New user"},
    {59410, "Edit user"},
    {59411, "No users are defined. Ask your administrator."},
    {59418, "Split view"},
    {59419, "Automatic camera switching"},
    {61410, "The users file %s.%s is missing or damaged. The program cannot start."},
    {65008,
     "Changing the station name or phone number gives this station a new identity. "
     "Stations that know it will no longer recognise it. Give it a new identity?"},
    {65120, "The administrator cannot be removed."},
    {65264, "Second quad view"},
    {65265, "Quad view"},
    {65266, "Quad"},
};

struct DialogEntry {
    UINT dialog;
    UINT control;  // 0: the caption
    const char* text;
};

constexpr DialogEntry kDialogTexts[] = {
    // Two-choice options.
    {1403, 0, "Options"},
    {1403, 1005, "On"},
    {1403, 1043, "Off"},
    {1403, 1138, "On"},
    {1403, 1139, "Off"},
    {1403, 1, "OK"},
    {1403, 2, "Cancel"},
    // User dialog.
    {102, 0, "User"},
    {102, 353, "User name:"},
    {102, 1003, "Password:"},
    {102, 1002, "Confirm password:"},
    {102, 1005, "Administrator"},
    {102, 1007, "Operator"},
    {102, 1008, "Viewer"},
    {102, 1, "OK"},
    {102, 2, "Cancel"},
    // Login.
    {103, 0, "Login"},
    {103, 353, "User name:"},
    {103, 1003, "Password:"},
    {103, 1, "OK"},
    {103, 2, "Cancel"},
    // Default-password warning.
    {104, 0, "Default password"},
    {104, 1000,
     "The administrator still has the default password. Change it in the users list "
     "so that nobody else can log in as administrator."},
    {104, 1007, "Do not show this warning again"},
    {104, 1, "OK"},
    // Users list.
    {105, 0, "Users"},
    {105, 3, "Add..."},
    {105, 5, "Edit..."},
    {105, 4, "Remove"},
    {105, 1, "OK"},
    {105, 2, "Cancel"},
    // Self-closing message box of the main program.
    {131, 1, "OK"},
    {131, 2, "Cancel"},
    {131, 6, "Yes"},
    {131, 7, "No"},
    {131, 1042, "Retry"},
    {131, 1048, "Ignore"},
    {131, 1046, "Abort"},
    {131, 57670, "Help"},
    // About box.
    {100, 0, "About Velmoor"},
    {100, 1002, "Registration..."},
    {100, 1000, "Registered to:"},
    {100, 1001, "Company:"},
    // Identity page.
    {409, 0, "Identity"},
    {409, 353, "Station name:"},
    {409, 1193, "Phone number:"},
    {409, 1088, "Description:"},
    // Timed message box of the engine.
    {499, 0, "Velmoor"},
    {499, 1, "OK"},
};

int copyOut(std::string_view text, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    const auto count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

std::atomic<int> g_installed{0};

}  // namespace

GLOSSEL_API int lngSetResourceDLL() {
    g_installed = 1;
    return 1;
}

GLOSSEL_API int lngLoadString(UINT id, char* buffer, int size) {
    const auto* end = std::end(kStrings);
    const auto* it = std::lower_bound(std::begin(kStrings), end, id,
                                      [](const StringEntry& e, UINT key) { return e.id < key; });
    if (it == end || it->id != id) {
        if (buffer != nullptr && size > 0) {
            buffer[0] = '\0';
        }
        return 0;
    }
    return copyOut(it->text, buffer, size);
}

GLOSSEL_API int lngLoadDialogText(UINT dialog, UINT control, char* buffer, int size) {
    for (const auto& entry : kDialogTexts) {
        if (entry.dialog == dialog && entry.control == control) {
            return copyOut(entry.text, buffer, size);
        }
    }
    if (buffer != nullptr && size > 0) {
        buffer[0] = '\0';
    }
    return 0;
}

static_assert([] {
    for (std::size_t i = 1; i < std::size(kStrings); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id) {
            return false;
        }
    }
    return true;
}(), "the string table must be sorted by id");
