#pragma once
// The stills and motion library qel: JPEG stills to and from uncompressed image
// records, still files with a fixed 42-byte header, the standard Huffman tables,
// and a motion detector and delta codec working on DCT coefficients.
//
// Callers bind the library at run time (DLLGetApiVer, DLLGetApi) and use the
// operation table IQelApi, or call the QEL_ C exports directly.
//
// An image record is a BITMAPINFOHEADER followed by its data in one block.
// Uncompressed data: rows bottom-up, no row padding (width x bytes per pixel);
// 24 bits = blue, green, red; 16 bits = little-endian word with red in bits
// 10-14, green 5-9, blue 0-4; 8 bits = one grey byte. A compressed record holds
// one complete JPEG stream as data, biSizeImage its length.
//
// One operation at a time per process: the error text and the API object are
// process-wide. Every operation returns 1 for success and 0 for failure; libjpeg
// errors never end the process, they leave their message in the error text.

#include "platform/types.h"

#include <cstdint>

#define QEL_EXPORT extern "C" __attribute__((visibility("default")))

// The window argument of Draw: the caller's canvas of 32-bit pixels (0xAARRGGBB
// in one uint32_t, rows top-down, `stride` bytes from one row to the next). Draw
// lays a 24-bit picture on it centred, as opaque pixels, and leaves the rest as
// it was; the caller shows the canvas in its window.
struct QelCanvas {
    uint32_t* pixels;
    int32_t width;
    int32_t height;
    int32_t stride;
};
using QelWindow = QelCanvas*;

// Receives one rendered row of samples (output components per pixel), the row
// width in pixels and the row number counted from the bottom starting at 1.
using QelDrawLine = void (*)(const BYTE* samples, int widthPixels, int rowNumber);

// Motion context: allocated by the caller, zero-initialised, mode set before
// QEL_open_lib. The caller may read the sizes and the statistics; the rest
// belongs to the library.
struct QelMotionContext {
    int32_t mode;  // 0 sending side, 1 receiving side
    int32_t imageHeight;
    int32_t imageWidth;
    int32_t blocksHigh;  // 8x8 blocks of the first component
    int32_t blocksWide;
    int32_t mcuColumns;
    int32_t mcuRows;
    int32_t mcuCount;
    int32_t deltaThreshold;
    int32_t depth;        // coefficients compared per block; 0 counts as 1
    int32_t historySize;  // number of stored frames
    // 0 frames opened; 1 changed MCUs since open_lib; 2 changed MCUs in the
    // current frame; 3 sum of absolute differences of the pass; 4 largest and
    // 5 smallest DC value of a luminance block; 6 sum of squares and 7 sum of
    // those DC values. Words 3 to 7 restart with every pass.
    int32_t* statistics;
    QelDrawLine drawLine;
    uint32_t sequence;     // message sequence counter
    int32_t imageOpen;
    int32_t libraryOpen;
    void* state;  // the library's own state (codecs, history, buffers)
};

// Message types of QEL_build_message.
inline constexpr int kQelKeyFrame = 0;
inline constexpr int kQelDelta = 1;
inline constexpr DWORD kQelMessageHeaderBytes = 16;

// The operation table. Slot order is part of the binding: 0 GetVersion,
// 1 Release, 2..25 the operations below, 26 the destructor. Callers reach it
// only through DLLGetApi and hand it back with Release.
class IQelApi {
public:
    virtual DWORD GetVersion() = 0;
    virtual ULONG Release() = 0;
    virtual int ReadDIB(const char* path, BITMAPINFOHEADER* image) = 0;
    virtual int SaveDIB(const char* path, BITMAPINFOHEADER* image) = 0;
    virtual int GetJPGInfo(const char* path, BITMAPINFOHEADER* info, char** errorText) = 0;
    virtual int Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText) = 0;
    virtual int Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText,
                         int quality) = 0;
    virtual int Draw(BITMAPINFOHEADER* image, QelWindow window) = 0;
    virtual int AddHuffman(const char* sourcePath, const char* targetPath) = 0;
    virtual int OpenLib(QelMotionContext* context) = 0;
    virtual int CloseLib(QelMotionContext* context) = 0;
    virtual int OpenImage(QelMotionContext* context, const BYTE* data, DWORD length) = 0;
    virtual int CloseImage(QelMotionContext* context) = 0;
    virtual int IsImageOpen(QelMotionContext* context) = 0;
    virtual int SetDepth(QelMotionContext* context, int depth) = 0;
    virtual QelMotionContext* SetDelta(QelMotionContext* context, int threshold) = 0;
    virtual int SetHistory(QelMotionContext* context, int count) = 0;
    virtual int SetRoi(QelMotionContext* context, const BYTE* bitmap, int lengthBytes) = 0;
    virtual int Compare(QelMotionContext* context, int* mcuNumber, int advance) = 0;
    virtual int GetBlockCoef(QelMotionContext* context, int a, int b, int c) = 0;
    virtual int StartCoef(QelMotionContext* context) = 0;
    virtual int BuildMessage(QelMotionContext* context, int type, int bit, BYTE* message,
                             DWORD* length, DWORD capacity, int quality) = 0;
    virtual int StartScanImage(QelMotionContext* context) = 0;
    virtual int StartScanImage2(QelMotionContext* context) = 0;  // the same entry as slot 22
    virtual int SetDrawLine(QelMotionContext* context, QelDrawLine callback) = 0;
    virtual int DecodeMessage(QelMotionContext* context, const BYTE* message, DWORD length) = 0;
    virtual ~IQelApi() = default;

};

// The interface version DLLGetApiVer reports and the loader expects.
inline constexpr DWORD kQelApiVersion = 1;
inline constexpr DWORD kQelObjectVersion = 0x01000001;
inline constexpr std::size_t kQelErrorTextBytes = 200;
inline constexpr std::size_t kQelStillHeaderBytes = 42;

QEL_EXPORT DWORD DLLGetApiVer();
QEL_EXPORT IQelApi* DLLGetApi();

QEL_EXPORT int QEL_ReadDIB(const char* path, BITMAPINFOHEADER* image);
QEL_EXPORT int QEL_SaveDIB(const char* path, BITMAPINFOHEADER* image);
QEL_EXPORT int QEL_GetJPGInfo(const char* path, BITMAPINFOHEADER* info, char** errorText);
// The target must have room for biWidth x |biHeight| x 3 bytes of the source's
// header; a picture that needs more is refused (the text says how much).
QEL_EXPORT int QEL_Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target,
                              char** errorText);
// The target's room for the stream is the source's biSizeImage (after the
// 8/16-bit adjustment). A stream that does not fit is refused: nothing is
// written past the room and the target's biSizeImage tells the size needed.
QEL_EXPORT int QEL_Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText,
                            int quality);
// Refuses (0) a picture that is not 24-bit bottom-up and a canvas whose rows do
// not hold its width; a picture larger than the canvas loses its edges.
QEL_EXPORT int QEL_Draw(BITMAPINFOHEADER* image, QelWindow window);
QEL_EXPORT int QEL_AddHuffman(const char* sourcePath, const char* targetPath);

QEL_EXPORT int QEL_open_lib(QelMotionContext* context);
QEL_EXPORT int QEL_close_lib(QelMotionContext* context);
QEL_EXPORT int QEL_open_image(QelMotionContext* context, const BYTE* data, DWORD length);
QEL_EXPORT int QEL_close_image(QelMotionContext* context);
QEL_EXPORT int QEL_is_image_open(QelMotionContext* context);
QEL_EXPORT int QEL_set_depth(QelMotionContext* context, int depth);
QEL_EXPORT QelMotionContext* QEL_set_delta(QelMotionContext* context, int threshold);
QEL_EXPORT int QEL_set_history(QelMotionContext* context, int count);
QEL_EXPORT int QEL_set_roi(QelMotionContext* context, const BYTE* bitmap, int lengthBytes);
QEL_EXPORT int QEL_compare(QelMotionContext* context, int* mcuNumber, int advance);
QEL_EXPORT int QEL_get_block_coef(QelMotionContext* context, int a, int b, int c);
QEL_EXPORT int QEL_start_coef(QelMotionContext* context);
QEL_EXPORT int QEL_build_message(QelMotionContext* context, int type, int bit, BYTE* message,
                                 DWORD* length, DWORD capacity, int quality);
QEL_EXPORT int QEL_start_scan_image(QelMotionContext* context);
QEL_EXPORT int QEL_set_DrawLine(QelMotionContext* context, QelDrawLine callback);
QEL_EXPORT int QEL_decode_message(QelMotionContext* context, const BYTE* message, DWORD length);
QEL_EXPORT int QEL_scan_image(QelMotionContext* context);
QEL_EXPORT int QEL_set_quality(QelMotionContext* context, int quality);
QEL_EXPORT int QEL_DecompressMRU(QelMotionContext* context, int* mcuNumber);
