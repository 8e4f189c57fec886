#pragma once
// CFrameSettings: the station's settings groups (and its window's placement)
// in the instance's registry branch
// (Software\Quennel\Velmoor<id>\1.000.0\<section>): General (with the
// business card and the placements), Comms, Caldrin (the voice and transfer
// record), Video with Video\Rs232, and ScreenSettings. Each group is read with
// its defaults and written back, so a first start leaves every value in the
// registry. Values come back range-checked where the program relies on a range.
//
// Thread: the user-interface thread. Failure: a section that cannot be opened
// leaves the record at its preset values; write errors are ignored.

#include "platform/types.h"

#include <string>
#include <vector>

namespace trennick {

inline constexpr std::size_t kPathChars = 260;

#pragma pack(push, 1)
// The main window's placement and layout, stored as 36 bytes.
struct ScreenPlacement {
    LONG x = -1, y = 0, width = 0, height = 0;
    LONG topMargin = 5, leftMargin = 5, layout3 = 62, layout4 = 1;
    LONG expanded = 0;
};
static_assert(sizeof(ScreenPlacement) == 36);

// The chat window's placement, stored as 280 bytes.
struct ChatSettingsRecord {
    LONG left = 10, top = 370, width = 450, height = 484;
    LONG capture = 0;
    char capturePath[kPathChars] = {};
};
static_assert(sizeof(ChatSettingsRecord) == 280);
#pragma pack(pop)

inline constexpr std::size_t kBusinessCardBytes = 877;
// The card's name and phone fields.
inline constexpr std::size_t kCardNameOffset = 8, kCardNameBytes = 64;
inline constexpr std::size_t kCardPhoneOffset = 72, kCardPhoneBytes = 32;
// The window metrics the frame's sizes are built from.
inline constexpr int kCaptionHeight = 22, kMenuHeight = 20, kFrameHeight = 3;
inline constexpr std::size_t kGeneralFlagBytes = 100;

struct GeneralRecord {
    char HomeDir[kPathChars] = {};
    DWORD TimeSlice = 200;
    DWORD CommandTimeOut = 60000;
    BYTE Flags[kGeneralFlagBytes] = {};  // the first five are the record's switches
    BYTE BusinessCard[kBusinessCardBytes] = {};
    ChatSettingsRecord Chat;
    DWORD TimeOutForMesageBoxesMS = 30000;
    DWORD MaxReadQ_Bytes = 100000;
    DWORD UnattendedDisconnect = 1;  // section Alarm
};

struct CommsRecord {
    char ModemName[128] = {};
    char ModemFile[kPathChars] = {};
    char PortName[64] = {};
    char Outsidelineprefix[20] = {};
    DWORD CommandTimeOut = 60000;
    DWORD FileInActive = 10;
    DWORD ForcedBandwidth = 0;
    DWORD BaudRate = 56700;
    DWORD StopBits = 0;
    DWORD Parity = 0;
    DWORD ByteSize = 8;
    DWORD RingsCount = 2;
    DWORD PromptBeforeAnswer_R = 0;
    DWORD BlockCalls_R = 0;
    DWORD SpeakerOff = 0;
    DWORD UseSVD = 0;
    DWORD PlayRings = 1;
    DWORD x_pos = 100;
    DWORD y_pos = 50;
    char NumbersDialed[10][32] = {};
    DWORD InetStartSpeed = 33600;
    DWORD HelloTimeout = 3000;
    DWORD HelloMaxTimeRetry = 20;
    DWORD HelloSetupLimit = 15000;     // ms a call may take to finish its hello exchange
    DWORD NetInUse = 0;
    char PhoneBookName[128] = {};
    DWORD UseDialUp = 0;
    char DialUpUser[128] = {};
    DWORD UseServerIp = 0;
    DWORD DialUpRemoteIsAttended = 0;
    // The modem link's line beyond the values above.
    char TapiLine[128] = {};           // the telephony line; empty: the script drives the modem
    DWORD AutoAnswer = 1;
    DWORD AutoListen = 0;
    DWORD DirectLine = 0;
    // The dial-up password the options page edits. Kept in memory only: it is
    // stored in the dial-up entry, never in the settings.
    char DialUpPassword[128] = {};
};

// The storage folder under which the stations' event files and recordings
// are made (the stations directory's default storage), with the storage
// page's two switches and its three-way choice. The folder ends with a
// separator when set.
struct StorageRecord {
    char folder[kPathChars] = {};
    BYTE check1247 = 0;
    BYTE check1081 = 0;
    BYTE choice = 0;  // 0, 1 or 2
};

struct CaldrinRecord {
    char HomeDir[kPathChars] = {};
    char RecDir[kPathChars] = {};
    DWORD TimeSlice = 100;
    DWORD CommandTimeOut = 60000;
    BYTE Flags[8] = {1, 1, 0, 1, 1, 0, 1, 1};
    std::string queueFile, sentFile, receivedFile, chatFile;
};

struct VideoRecord {
    char name[32] = "None";
    DWORD slowContrast = 90, fastContrast = 2, slowTracking = 50, fastTracking = 37;
    DWORD BytesPerFrame = 300, Background = 2, KeyFrameContrast = 10, KeyFrameTracking = 10;
    DWORD DefaultRateOnDOA = 50, CompressPacketLength = 512;
    DWORD rParam_AllowChangeSize = 1, rParam_mono = 0, rParam_use256pal = 1;
    DWORD rParam_QQual = 40, rParam_StarStart = 1, rParam_CQual = 40;
    DWORD rParam_imagewidth = 176, rParam_imageheight = 144;
    DWORD PromptWhenReceive = 0, RemoteAlwaysOnTop = 0, RemoteDoubleSize = 0;
    DWORD MaxFrameRate = 10, RemotePreferRate = 50, EnablePerfectCompression = 0, VideoStreamMode = 1;
    DWORD AutoSend = 0, ShowVideoWhenRun = 0;
    BYTE lPos[16] = {}, rPos[16] = {};
    DWORD Rs232Out = 0, Rs232OutPort = 1;  // section Video\Rs232
};

inline constexpr DWORD kMaxCompressPacketLength = 32768;

class CFrameSettings {
public:
    // Readers, in the frame's order. ReadScreenSettings runs before the window
    // exists; the metrics are the frame's caption, menu and border heights.
    void ReadScreenSettings(int captionHeight, int menuHeight, int frameHeight);
    void ReadGenSettings();
    void ReadCommsSettings(DWORD appNetInUse);
    void ReadCaldrinSettings();
    void ReadVideoSettings();
    // The storage group is shared by every instance (the stations directory
    // reads its folder at start).
    void ReadStorageSettings();

    // Writers, called at destruction in this order.
    void WriteScreenSettings();
    void WriteGenSettings();
    void WriteCommsSettings();
    void WriteCaldrinSettings();
    void WriteVideoSettings();
    void WriteStorageSettings();

    // The dialled-numbers list: the stored numbers, the last one first.
    std::vector<std::string> DialledNumbers() const;

    ScreenPlacement screen;
    GeneralRecord general;
    CommsRecord comms;
    CaldrinRecord caldrin;
    VideoRecord video;
    StorageRecord storage;
    bool commsSectionMissing = false;
};

}  // namespace trennick
