#pragma once
// ScrivaneLib: the classes, interfaces and enumerations of the activity log
// engine, shared by the server and its clients (the engine library's log
// client and the log viewer).

#include "platform/com/oleauto.h"

// {357EC5E3-BAD7-46CB-8895-5EA5A127BE89}
inline constexpr CLSID CLSID_zo_LogWrite = {0x357EC5E3, 0xBAD7, 0x46CB, {0x88, 0x95, 0x5E, 0xA5, 0xA1, 0x27, 0xBE, 0x89}};
// {3CB16248-59A9-49E0-A259-8B6FE8AA1537}
inline constexpr IID IID_Izo_LogWrite = {0x3CB16248, 0x59A9, 0x49E0, {0xA2, 0x59, 0x8B, 0x6F, 0xE8, 0xAA, 0x15, 0x37}};
// {1961CBB5-8E73-40BE-9E3E-BAFEBF56C211}
inline constexpr IID DIID__Izo_LogWriteEvents = {0x1961CBB5, 0x8E73, 0x40BE, {0x9E, 0x3E, 0xBA, 0xFE, 0xBF, 0x56, 0xC2, 0x11}};
// {9369B963-E763-4AE0-8FFA-3CE8681BBD90}
inline constexpr CLSID CLSID_zo_LogRead = {0x9369B963, 0xE763, 0x4AE0, {0x8F, 0xFA, 0x3C, 0xE8, 0x68, 0x1B, 0xBD, 0x90}};
// {A2597FC7-1881-4245-AC74-C6B471BE0961}
inline constexpr IID IID_Izo_LogRead = {0xA2597FC7, 0x1881, 0x4245, {0xAC, 0x74, 0xC6, 0xB4, 0x71, 0xBE, 0x09, 0x61}};
// {38B1126A-FC20-490E-BC29-7568B34001D5}
inline constexpr IID DIID__Izo_LogReadEvents = {0x38B1126A, 0xFC20, 0x490E, {0xBC, 0x29, 0x75, 0x68, 0xB3, 0x40, 0x01, 0xD5}};

enum TAG_LOG_TYPES_VLM : short {
    LOGTYPE_FULL = 0,
    LOGTYPE_ACTIVITIES = 1,
    LOGTYPE_ERRORS = 2,
    LOGTYPE_DOA = 3,
    LOGTYPE_RECORD = 4,
    LOGTYPE_USER = 5,
    LOGTYPE_MAXID = 6,
};

enum TAG_LOG_STATUS_ID_VLM : short {
    LOGSTATID_INFO = 0,
    LOGSTATID_WARNING = 1,
    LOGSTATID_ERROR = 2,
    LOGSTATID_MAX_STATID = 3,
};

enum TAG_LOG_ERROR_ID_VLM : short {
    LOGERRID_ = 0,
    LOGERRID_MAX_ERRID = 1,
};

enum TAG_LOG_CYC_TYPE : short {
    LOGCYCLE_NOCYCLE = 0,
    LOGCYCLE_MAX_KBSIZE = 1,
    LOGCYCLE_MAX_ENTRIES = 2,
    LOGCYCLE_MAX_TIME = 3,
    LOGCYCLE_MAX_CYCTYPE = 4,
};

// A failing method returns 0x80040000 OR the code.
enum TAG_LE_ERRORS : short {
    LEERR_NOERROR = 0,
    LEERR_SYSTEM = 1,
    LEERR_STRING_TOO_LONG = 2,
    LEERR_INVALID_ENTRY_STR = 3,
    LEERR_EVENTID_ALREADY_EXIST = 4,
    LEERR_NO_EVENT_DESCRIPT = 5,
    LEERR_INVALID_LOGSTAMP = 6,
    LEERR_INVALID_VERSION = 7,
    LEERR_INVALID_LOGNAME = 8,
    LEERR_INVALID_LOG_TYPE = 9,
    LEERR_INVALID_LAST_ENTRY_ID = 10,
    LEERR_INVALID_CYC_PARAM1 = 11,
    LEERR_INVALID_CYCTYPE = 12,
    LEERR_INVALID_CRC = 13,
    LEERR_LOGFILE_NOT_OPEN = 14,
    LEERR_LOGFILE_READ_FAIL = 15,
    LEERR_LOGFILE_WRITE_FAIL = 16,
    LEERR_SET_CYCSTATUS_FAIL = 17,
    LEERR_ADD_ENTRY_FAILED = 18,
    LEERR_FIND_NEW_INDEX_FAILED = 19,
    LEERR_NO_MORE_ENTRIES = 20,
    LEERR_NO_MUTEX_OBJECT = 21,
    LEERR_MAX_ERR = 22,
};

enum TAG_LOG_EVENT_ID_VLM : short {
    LOGEVENTID_ENTER_SETUP = 0,
    LOGEVENTID_EXIT_SETUP = 1,
    LOGEVENTID_SETUP_CHANGED = 2,
    LOGEVENTID_SETUP_IDENTITY_CHANGED = 3,
    LOGEVENTID_SETUP_FILETRANS_CHANGED = 4,
    LOGEVENTID_SETUP_RVIDEO_CHANGED = 5,
    LOGEVENTID_SETUP_MODEM_CHANGED = 6,
    LOGEVENTID_SETUP_GENERAL_CHANGED = 7,
    LOGEVENTID_SYSARM = 8,
    LOGEVENTID_SYSDISARM = 9,
    LOGEVENTID_CONNECT = 10,
    LOGEVENTID_DISCONNECT = 11,
    LOGEVENTID_SYSUPGRADE = 12,
    LOGEVENTID_ADRBOOK_ADD = 13,
    LOGEVENTID_ADRBOOK_DELETE = 14,
    LOGEVENTID_ADRBOOK_EDIT = 15,
    LOGEVENTID_USERS_ENTER = 16,
    LOGEVENTID_USERS_EXIT = 17,
    LOGEVENTID_USERS_ADD = 18,
    LOGEVENTID_USERS_DELETE = 19,
    LOGEVENTID_USERS_EDIT = 20,
    LOGEVENTID_DBR_ENTER = 21,
    LOGEVENTID_DBR_EXIT = 22,
    LOGEVENTID_DBR_EVENT_DELETE = 23,
    LOGEVENTID_DBR_CAMERA_DELETE = 24,
    LOGEVENTID_DBR_ADAPTER_DELETE = 25,
    LOGEVENTID_DBR_STATION_DELETE = 26,
    LOGEVENTID_FTRANS_ENTER = 27,
    LOGEVENTID_FTRANS_EXIT = 28,
    LOGEVENTID_FTRANS_SEND = 29,
    LOGEVENTID_FTRANS_RECIEVE = 30,
    LOGEVENTID_RCAM_GET_SNAP = 31,
    LOGEVENTID_CAMSET_ENTER = 32,
    LOGEVENTID_CAMSET_EXIT = 33,
    LOGEVENTID_CAMSET_CHANGE = 34,
    LOGEVENTID_RECORD_START = 35,
    LOGEVENTID_RECORD_STOP = 36,
    LOGEVENTID_DOA = 37,
    LOGEVENTID_RSET_ENTER = 38,
    LOGEVENTID_RSET_EXIT = 39,
    LOGEVENTID_RSET_UPLOAD = 40,
    LOGEVENTID_RSET_DOWNLOAD = 41,
    LOGEVENTID_RSET_SYNCDATETIME = 42,
    LOGEVENTID_USER_LOGIN = 43,
    LOGEVENTID_USER_LOGOUT = 44,
    LOGEVENTID_DOA_UNATTENDED = 45,
    LOGEVENTID_DIAL_REASON = 46,
    LOGEVENTID_MAX_EVENTID = 47,
};

// The HRESULT of a log engine error code.
constexpr HRESULT logEngineError(int code) { return hresult(0x80040000u | unsigned(code)); }

// The activity log writer (Scrivane.zo_LogWrite). Every method returns S_OK or
// 0x80040000 OR a TAG_LE_ERRORS code (CreateLogFile's argument checks: 0xFFFFFFFF).
struct Izo_LogWrite : IDispatch {
    static constexpr IID iid = IID_Izo_LogWrite;
    using Base = IDispatch;
    virtual HRESULT CreateLogFile(BSTR szFormat, BSTR szVersion, BSTR szLogName, short nLogType, short nCycleType,
                                  LONG nCycleParam1, BSTR szFilePath) = 0;
    virtual HRESULT CloseLogFile() = 0;
    virtual HRESULT AddLogEntry(short nEntryID, short nFlags, BSTR szUserName, short nStatus, BSTR szInfo) = 0;
    virtual HRESULT OpenLogFile(BSTR szFilePath) = 0;
    virtual HRESULT AddLogEntryEx(BSTR szFilePath, short nEntryID, short nFlags, BSTR szUserName, short nStatus,
                                  BSTR szInfo) = 0;

protected:
    ~Izo_LogWrite() = default;
};

// The activity log reader (Scrivane.zo_LogRead). Texts handed out are new BSTRs
// that the caller frees.
struct Izo_LogRead : IDispatch {
    static constexpr IID iid = IID_Izo_LogRead;
    using Base = IDispatch;
    virtual HRESULT CloseLogFile() = 0;
    virtual HRESULT OpenLogFile(BSTR szFilePath) = 0;
    virtual HRESULT GetLogFormat(BSTR* pszLogFormat) = 0;
    virtual HRESULT GetLogName(BSTR* pszLogName) = 0;
    virtual HRESULT GetLogType(short* nLogType) = 0;
    virtual HRESULT GetFirstLogEntry(short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags,
                                     BSTR* pszUserName, short* nStatus, BSTR* pszInfo) = 0;
    virtual HRESULT GetNextLogEntry(short* nEventID, BSTR* pszDate, BSTR* pszTime, short* nFlags,
                                    BSTR* pszUserName, short* nStatus, BSTR* pszInfo) = 0;
    virtual HRESULT GetEventName(short nEventID, BSTR* szEventName) = 0;

protected:
    ~Izo_LogRead() = default;
};
