#pragma once
// The stills codec layer of the engine library: the error holder, the abstract
// stills codec, the codec bound to the stills library qel, the collection of
// codecs by kind and format, and the device set that creates them.
//
// An image is a BITMAPINFOHEADER followed by its data in one block (pixels, or
// for a JPEG image the compressed stream, biSizeImage its length).

#include "platform/library.h"
#include "platform/types.h"
#include "tavicore/tavicore_api.h"

class IQelApi;

// Result of every stills operation; the text of each is StillsErrorMessage().
enum tagSTILLSERROR : int32_t {
    STILLS_NO_ERROR = 0,
    STILLS_ERROR_UNSUPPORTED = 1,
    STILLS_ERROR_NOT_AVAILABLE = 2,
    STILLS_ERROR_HARDWARE = 3,
    STILLS_ERROR_ACTIVEX_MISSING = 4,
    STILLS_ERROR_NO_MEMORY = 5,
    STILLS_ERROR_COMPONENT_MISSING = 6,
    STILLS_ERROR_DEVICE = 7,
    STILLS_ERROR_SERVICE_FAILED = 8,
    STILLS_ERROR_UNKNOWN = 9,
    STILLS_ERROR_INVALID_FORMAT = 10,
};

// Kinds of stills codec; only the JPEG codec bound to qel exists.
enum tagSTILLCODEC : int32_t { STILLCODEC_JPEG = 0, STILLCODEC_1 = 1, STILLCODEC_2 = 2 };
inline constexpr int kStillCodecKinds = 3;
// Stills formats; a codec reports only JPEG.
enum tagSTILLFORMAT : int32_t {
    STILLFORMAT_JPEG = 0, STILLFORMAT_1, STILLFORMAT_2, STILLFORMAT_3, STILLFORMAT_4
};
inline constexpr int kStillFormats = 5;

// The message of a code ("Unknown error" for 9 and any unknown code; empty for 0).
TAVICORE_API const char* StillsErrorMessage(int32_t code);
TAVICORE_API extern const char* const gszStillsErrorMessages[11];

// The error code and text every stills object keeps of its last operation.
// Plain data; belongs to the thread of its owner.
class TAVICORE_API CStillsBase {
public:
    CStillsBase();
    CStillsBase(const CStillsBase&) = default;
    CStillsBase& operator=(const CStillsBase&) = default;

    // Sets the code and text ("%s %s (%s, line %d)" with extra, else
    // "%s (%s, line %d)", the source path cut to its file name); returns the code.
    tagSTILLSERROR _Error_(tagSTILLSERROR code, const char* sourcePath, int line,
                           const char* extra = nullptr);
    // Copies the text (at most size bytes with its NUL); null for a null buffer.
    char* GetLastError(char* buffer, int size) const;
    const char* GetLastError() const { return m_errorText; }
    tagSTILLSERROR GetLastErrorCode() const { return m_error; }
    void InheritError(const CStillsBase* other);

    static constexpr std::size_t kErrorTextBytes = 128;

protected:
    tagSTILLSERROR m_error;
    char m_errorText[kErrorTextBytes];
};

// The window of Draw: a canvas of 32-bit pixels (0xAARRGGBB in one DWORD, rows
// top-down, `stride` bytes from one row to the next) on which the codec lays the
// picture centred; showing it is the caller's (the window library's PaintStill
// paints it into a window).
struct StillCanvas {
    DWORD* pixels;
    LONG width;
    LONG height;
    LONG stride;
};

// An abstract stills codec. Operations return a code and leave it, with its
// text, in the object. Destroyed only through its concrete class.
class TAVICORE_API CStillsCodecInterface : public CStillsBase {
public:
    virtual tagSTILLSERROR InitDevice() = 0;
    virtual tagSTILLSERROR QueryFormats(tagSTILLFORMAT* formats, int* count) = 0;
    virtual tagSTILLSERROR ReadDIB(const char* path, BITMAPINFOHEADER* image) = 0;
    virtual tagSTILLSERROR SaveDIB(const char* path, BITMAPINFOHEADER* image) = 0;
    virtual tagSTILLSERROR GetInfo(const char* path, BITMAPINFOHEADER* info) = 0;
    virtual tagSTILLSERROR Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target) = 0;
    virtual tagSTILLSERROR Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target,
                                    int quality) = 0;
    virtual tagSTILLSERROR Draw(BITMAPINFOHEADER* image, StillCanvas* window) = 0;
    virtual tagSTILLSERROR AddHuffman(const char* source, const char* target) = 0;

protected:
    ~CStillsCodecInterface() = default;
};

// The JPEG codec bound to "qel.dll". While unbound every forwarding operation
// answers code 2. One thread.
class TAVICORE_API CStillsCodecQel final : public CStillsCodecInterface {
public:
    CStillsCodecQel() = default;
    ~CStillsCodecQel();
    CStillsCodecQel(const CStillsCodecQel&) = delete;
    CStillsCodecQel& operator=(const CStillsCodecQel&) = delete;

    tagSTILLSERROR InitDevice() override;
    tagSTILLSERROR QueryFormats(tagSTILLFORMAT* formats, int* count) override;
    tagSTILLSERROR ReadDIB(const char* path, BITMAPINFOHEADER* image) override;
    tagSTILLSERROR SaveDIB(const char* path, BITMAPINFOHEADER* image) override;
    tagSTILLSERROR GetInfo(const char* path, BITMAPINFOHEADER* info) override;
    tagSTILLSERROR Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target) override;
    tagSTILLSERROR Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target,
                            int quality) override;
    tagSTILLSERROR Draw(BITMAPINFOHEADER* image, StillCanvas* window) override;
    tagSTILLSERROR AddHuffman(const char* source, const char* target) override;

    tagSTILLSERROR CreateInterface();
    tagSTILLSERROR RemoveInterface();
    bool IsBound() const { return m_api != nullptr; }

    // The library file the codec binds.
    static constexpr const char* kLibraryName = "qel.dll";

private:
    IQelApi* m_api = nullptr;
    HMODULE m_module = nullptr;
};

// Codecs by kind, and by the format they serve. The base template stores a
// codec given from outside; the codec collection makes its own.
template <class Codec, class Kind, int Kinds>
class CStillsDeviceCollection : public CStillsBase {
public:
    CStillsDeviceCollection() = default;
    virtual ~CStillsDeviceCollection() = default;
    CStillsDeviceCollection(const CStillsDeviceCollection&) = delete;
    CStillsDeviceCollection& operator=(const CStillsDeviceCollection&) = delete;

    // Stores the codec when the kind's slot is empty; returns the codec of the slot.
    virtual Codec* Add(Codec* codec, Kind kind) {
        if (int(kind) < 0 || int(kind) >= Kinds) {
            return nullptr;
        }
        if (m_byKind[kind] == nullptr) {
            m_byKind[kind] = codec;
        }
        return m_byKind[kind];
    }
    virtual void Remove(Kind kind) {
        if (int(kind) >= 0 && int(kind) < Kinds) {
            m_byKind[kind] = nullptr;
        }
    }

protected:
    Codec* m_byKind[Kinds] = {};
    Codec* m_byFormat[kStillFormats] = {};
};

// The codecs of the stills library by kind and format. Owns the codecs it
// made; its destructor removes them all. One thread.
class TAVICORE_API CStillsCodecCollection
    : public CStillsDeviceCollection<CStillsCodecInterface, tagSTILLCODEC, kStillCodecKinds> {
public:
    CStillsCodecCollection() = default;
    ~CStillsCodecCollection() override;

    using CStillsDeviceCollection::Add;
    // Makes the codec of the kind (only kind 0); a kind already present gives
    // the codec it has. Null with error 1 for another kind.
    CStillsCodecInterface* Add(tagSTILLCODEC kind);
    void Remove(tagSTILLCODEC kind) override;

    CStillsCodecInterface* operator[](tagSTILLCODEC kind) const;
    CStillsCodecInterface* operator[](tagSTILLFORMAT format) const;
    CStillsCodecInterface* QueryInterface(tagSTILLFORMAT format) const { return (*this)[format]; }
};

// The stills codecs a window uses: created empty, filled by InitDevices, used
// through operator[], destroyed by its owner (which unbinds qel). Its own error
// is kept apart from the collection's. One thread.
class TAVICORE_API CStillsDevices : public CStillsCodecCollection {
public:
    CStillsDevices() = default;
    ~CStillsDevices() override = default;

    tagSTILLSERROR InitDevices(const tagSTILLCODEC* kinds, int count);
    tagSTILLSERROR EnumerateDevices(tagSTILLCODEC* kinds, int* count) const;

    using CStillsCodecCollection::operator[];

    // The device set's own error (InitDevices, EnumerateDevices).
    char* GetLastError(char* buffer, int size) const { return m_devicesError.GetLastError(buffer, size); }
    const char* GetLastError() const { return m_devicesError.GetLastError(); }
    tagSTILLSERROR GetLastErrorCode() const { return m_devicesError.GetLastErrorCode(); }
    // The collection's error (Add, Remove).
    const CStillsBase& CollectionError() const { return *this; }

private:
    CStillsBase m_devicesError;
};
