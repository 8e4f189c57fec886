#pragma once
// The dial-up library: named dial-up entries (NetworkManager connection
// profiles driven through the nmcli program), dialling them, hanging up and
// reading the address of the server a dialled entry reached.
//
// Plain C exports. Every function returns a Zo_Rdas_Ret_Enum; after a failure
// DialvoGetErrorString gives the reason. Where nmcli is not installed,
// DialvoLink returns ZO_RDAS_NO_LIBRARY and every other function
// ZO_RDAS_NO_FUNCTION with the text "Function Not supported ".
//
// Threads: the library keeps one process-wide state without a lock; callers
// use it from one thread.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DIALVO_API __attribute__((visibility("default")))

typedef enum Zo_Rdas_Ret_Enum {
    ZO_RDAS_OK = 0,
    ZO_RDAS_FAILED = 1,
    ZO_RDAS_NO_LIBRARY = 2,   // DialvoLink only: the network service's tool is missing
    ZO_RDAS_NO_FUNCTION = 3,  // the facility behind this function is missing
    ZO_RDAS_CANCELLED = 4,    // the user cancelled the dial prompt
} Zo_Rdas_Ret_Enum;

// 0 dials unattended; any other value lets the system prompt for what it needs.
typedef int32_t Zo_Rds_Dial_Type;

#define DIALVO_ENTRY_NAME_BYTES 256

typedef struct _ZoRsd_Entry_Name {
    char szEntryName[DIALVO_ENTRY_NAME_BYTES];  // at most 255 characters used
} _ZoRsd_Entry_Name;

typedef struct _Dialvo_Dial_Params {
    char szUserName[256];
    char szPassword[256];
    char szDomain[256];  // filled with the entry's connection type; ignored when set
} _Dialvo_Dial_Params;

DIALVO_API Zo_Rdas_Ret_Enum DialvoLink(void);
DIALVO_API Zo_Rdas_Ret_Enum DialvoUnLink(void);
DIALVO_API Zo_Rdas_Ret_Enum DialvoConnect(const char* entryName, Zo_Rds_Dial_Type dialType);
DIALVO_API Zo_Rdas_Ret_Enum DialvoConnectAndGetAddress(const char* entryName, char* address,
                                                       uint32_t addressSize,
                                                       Zo_Rds_Dial_Type dialType);
DIALVO_API Zo_Rdas_Ret_Enum DialvoHangUp(void);
// entries null: *count gets the number of entries. Else at most
// entriesBytes / 256 names are listed and *count gets how many.
DIALVO_API Zo_Rdas_Ret_Enum DialvoEnumEntries(_ZoRsd_Entry_Name* entries, uint32_t entriesBytes,
                                              uint32_t* count);
DIALVO_API Zo_Rdas_Ret_Enum DialvoGetEntryDialParam(const char* entryName,
                                                    _Dialvo_Dial_Params* params);
DIALVO_API Zo_Rdas_Ret_Enum DialvoSetEntryDialParam(const char* entryName,
                                                    const _Dialvo_Dial_Params* params);
DIALVO_API Zo_Rdas_Ret_Enum DialvoWizardCreateEntry(void);
DIALVO_API Zo_Rdas_Ret_Enum DialvoEditEntry(const char* entryName);
DIALVO_API Zo_Rdas_Ret_Enum DialvoDeleteEntry(const char* entryName);
DIALVO_API Zo_Rdas_Ret_Enum DialvoRenameEntry(const char* oldName, const char* newName);
DIALVO_API Zo_Rdas_Ret_Enum DialvoGetServerIp(const char* entryName, char* address,
                                              uint32_t addressSize);
// The entry's properties as "name:value" lines (at most size - 1 characters).
DIALVO_API Zo_Rdas_Ret_Enum DialvoGetEntryProperties(const char* entryName, char* properties,
                                                     uint32_t size);
// Sets properties given as "name:value" lines, as DialvoGetEntryProperties lists them.
DIALVO_API Zo_Rdas_Ret_Enum DialvoSetEntryProperties(const char* entryName,
                                                     const char* properties);
// Copies at most size - 1 characters of the last error text and empties it.
DIALVO_API Zo_Rdas_Ret_Enum DialvoGetErrorString(char* text, uint32_t size);

#ifdef __cplusplus
}
static_assert(sizeof(_ZoRsd_Entry_Name) == 256);
static_assert(sizeof(_Dialvo_Dial_Params) == 768);
#endif
