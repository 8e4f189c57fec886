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
    // Transfer window and file lists.
    {300, "File"},
    {301, "Type"},
    {302, "Sent"},
    {303, "Received"},
    {304, "To"},
    {305, "From"},
    {306, "Velmoor - Error"},
    {307, "Velmoor - Question"},
    {308, "Velmoor - Information"},
    {309, "Sent files"},
    {310, "Received files"},
    {311, "DejaVu Sans"},
    {313, "Stations"},
    {314, "Adapters"},
    {315, "Cameras"},
    {316, "Chat - connected"},
    {317, "Chat - not connected"},
    {318, "Chat with "},
    {321, "8"},
    {324, "PTZ control"},
    {325, "Save the picture to a file"},
    {501, "Version 1.0"},
    // Tool tips of the main window's buttons.
    {1186, "Open the event explorer"},
    // Serial port, files and telephony lines.
    {4000, "The serial port %s cannot be opened. Try again?"},
    {4050, "The file %s cannot be found."},
    {4060, "The file %s cannot be read."},
    {4070, "Access to the file %s is denied."},
    {4080, "The disk is full: %s cannot be written."},
    {4110, "Too many files are open: %s cannot be opened."},
    {4180, "A file is being transferred. Close the window and stop the transfer?"},
    {4230, "The video window is not open."},
    {4240, "The file is not an address book."},
    {4280, "The telephony service is not available. Try again?"},
    {4290, "%s: the telephone line named in the settings does not exist."},
    // File transfer and connection messages.
    {5000, "Stop sending the file?"},
    {5010, "Do not send the file now: another transfer is under way."},
    {5030, "The receiving station does not answer. The transfer was stopped."},
    {5050, "The file %s arrived damaged (checksum error) and was discarded."},
    {5060, "Send the %d queued files now?"},
    {5080, "The connection was lost while reading from the line."},
    {5090, "The file transfer timed out: no data arrived."},
    {5110, "Send the queued file now?"},
    {5120, "The remote station wants to open video. Accept it?"},
    {5130, "The station %s is in the address book with a different card. Update it?"},
    {5140, "The file %s has arrived. Open it?"},
    {5150, "Delete %s?"},
    {5180, "A connection is open. Disconnect from the site?"},
    {5190, "Disconnect from the site?"},
    {5200, "Add the %d selected files to the queue?"},
    {5210, "%s: the connection to the remote station was lost."},
    {5230, "The connection with %s ended."},
    {5250, "Nobody answered the site's call in time; the line will be closed."},
    {5280, "A connection request is already pending."},
    {5300, "The connection with the called station %s ended."},
    {5310, "The new link settings take effect when the program is started again."},
    {5360, "The remote station stopped answering; the connection was closed."},
    {5370, "There is no connection to a site."},
    {5380, "The request is for %s, which is not the connected station."},
    {5390, "No events are recorded at the site."},
    {5400, "The event was not found at the site."},
    {5410, "The site refused the file transfer."},
    {5430, "Upgrade the program of the connected site?"},
    {5440, "An administrator is logged in at the site and the site is armed."},
    {5450, "The serial-out port cannot be opened; the program goes on without it."},
    {5460, "The recording was not found at the site."},
    {5470, "The site sent chat text; it is kept in %s until a chat window can show it."},
    {10000, "Velmoor"},
    // Tool tips of the main window's buttons.
    {29122, "Show less"},
    {29123, "Show more"},
    {29127, "Address book"},
    {32147, "Copy the picture to the clipboard"},
    {32801, "Disconnect"},
    {32802, "Put the call on hold"},
    {32805, "Video is on hold"},
    {32811, "Options"},
    {32822, "Full screen"},
    {32827, "Connect"},
    {32909, "Arm or disarm the site"},
    {57346, "Velmoor file transfer"},
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
    {59414, "The event file cannot be read."},
    {59415, "The event file cannot be opened."},
    {59416, "The event file holds no pictures."},
    {59418, "Split view"},
    {59419, "Automatic camera switching"},
    // Menu texts that follow the state.
    {61250, "Stop &listening"},
    {61251, "&Listen for calls"},
    {61260, "Send my &video"},
    {61261, "Stop sending my &video"},
    // Link states (one text per state of the line).
    {61300, "Not connected"},
    {61301, "Not listening"},
    {61302, "Hanging up"},
    {61303, "Listening for calls"},
    {61304, "Ringing"},
    {61305, "Answering"},
    {61306, "Calling"},
    {61307, "Connected"},
    {61308, "Connecting"},
    {61309, "Line ready"},
    {61310, "Waiting for calls (automatic answer)"},
    {61410, "The users file %s.%s is missing or damaged. The program cannot start."},
    {61415, "The site refused the user name."},
    {61416, "The site refused the password."},
    {61417, "Login for the call"},
    {65008,
     "Changing the station name or phone number gives this station a new identity. "
     "Stations that know it will no longer recognise it. Give it a new identity?"},
    // Results of a call and line faults.
    {65010, "The call ended normally."},
    {65011, "The call ended for an unknown reason."},
    {65012, "The call was rejected."},
    {65013, "The call was picked up elsewhere."},
    {65014, "The call was forwarded."},
    {65015, "The line is busy."},
    {65016, "There is no answer."},
    {65017, "The number is unreachable."},
    {65018, "The connection timed out."},
    {65019, "The line is congested."},
    {65020, "The number is not compatible."},
    {65021, "The call is not ready."},
    {65022, "There is no dial tone."},
    {65023, "There is a problem with the line."},
    {65024, "The remote station cannot be reached."},
    {65041, "Close the control panel"},
    {65043, "Slower"},
    {65044, "Snapshot"},
    {65045, "Faster"},
    {65046, "No picture for more than five seconds"},
    {65050, "Start recording"},
    {65051, "Stop recording"},
    {65052, "Recording"},
    {65058, "Chat menu"},
    {65059, "&Connect"},
    {65060, "Open the control panel"},
    {65070, "Ask for the large picture (CIF)"},
    {65071, "Ask for the small picture (QCIF)"},
    {65079, "Not enough memory to read the event file."},
    {65090, "Log in as an administrator"},
    {65100, "Log in as an operator"},
    {65110, "Log in"},
    {65120, "This is not allowed for your user."},
    // Remote settings.
    {65142, "Remote settings: the site reports an event."},
    {65144, "There is no connection to a site: its settings cannot be sent or fetched."},
    {65152, "Remote settings: the site reports an unknown error."},
    {65242, "The upgrade image is %s, older than the unit's %s. It is not sent."},
    {65247, "The unit's release is not known (%s image, unit reports \"%s\"). Send the upgrade image anyway?"},
    // Status codes.
    {65251, "Unknown"},
    {65252, "Disconnected"},
    {65253, "Connecting"},
    {65254, "Connected"},
    {65255, "Online"},
    {65256, "Waiting for a call"},
    {65257, "Initializing"},
    {65258, "Status"},
    {65259, "The site asks you to call back."},
    {65260, "The site is recording an alarm."},
    {65261, "Audio out is on"},
    {65262, "Audio out is muted"},
    {65263, "The site's operator wants to talk to you."},
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
