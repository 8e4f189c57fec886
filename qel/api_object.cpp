// The operation table handed out by DLLGetApi, and the library binding exports.

#include "qel/qel.h"

#include <new>

namespace {

// The library's one API object: forwards each slot to its C export and counts
// its references. One object per process at most; DLLGetApi creates it, the
// last Release destroys it. Not guarded: one caller thread at a time.
class QelApi final : public IQelApi {
public:
    DWORD GetVersion() override;
    ULONG Release() override;
    int ReadDIB(const char* path, BITMAPINFOHEADER* image) override;
    int SaveDIB(const char* path, BITMAPINFOHEADER* image) override;
    int GetJPGInfo(const char* path, BITMAPINFOHEADER* info, char** errorText) override;
    int Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText) override;
    int Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText,
                 int quality) override;
    int Draw(BITMAPINFOHEADER* image, QelWindow window) override;
    int AddHuffman(const char* sourcePath, const char* targetPath) override;
    int OpenLib(QelMotionContext* context) override;
    int CloseLib(QelMotionContext* context) override;
    int OpenImage(QelMotionContext* context, const BYTE* data, DWORD length) override;
    int CloseImage(QelMotionContext* context) override;
    int IsImageOpen(QelMotionContext* context) override;
    int SetDepth(QelMotionContext* context, int depth) override;
    QelMotionContext* SetDelta(QelMotionContext* context, int threshold) override;
    int SetHistory(QelMotionContext* context, int count) override;
    int SetRoi(QelMotionContext* context, const BYTE* bitmap, int lengthBytes) override;
    int Compare(QelMotionContext* context, int* mcuNumber, int advance) override;
    int GetBlockCoef(QelMotionContext* context, int a, int b, int c) override;
    int StartCoef(QelMotionContext* context) override;
    int BuildMessage(QelMotionContext* context, int type, int bit, BYTE* message, DWORD* length,
                     DWORD capacity, int quality) override;
    int StartScanImage(QelMotionContext* context) override;
    int StartScanImage2(QelMotionContext* context) override;
    int SetDrawLine(QelMotionContext* context, QelDrawLine callback) override;
    int DecodeMessage(QelMotionContext* context, const BYTE* message, DWORD length) override;

    ULONG m_refCount = 0;
};

QelApi* gApi = nullptr;

}  // namespace

DWORD QelApi::GetVersion() { return kQelObjectVersion; }

ULONG QelApi::Release() {
    if (m_refCount == 0) {
        return 0;
    }
    const ULONG left = --m_refCount;
    if (left == 0) {
        if (gApi == this) {
            gApi = nullptr;
        }
        delete this;
    }
    return left;
}

int QelApi::ReadDIB(const char* path, BITMAPINFOHEADER* image) { return QEL_ReadDIB(path, image); }
int QelApi::SaveDIB(const char* path, BITMAPINFOHEADER* image) { return QEL_SaveDIB(path, image); }
int QelApi::GetJPGInfo(const char* path, BITMAPINFOHEADER* info, char** errorText) {
    return QEL_GetJPGInfo(path, info, errorText);
}
int QelApi::Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText) {
    return QEL_Decompress(source, target, errorText);
}
int QelApi::Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText,
                      int quality) {
    return QEL_Compress(source, target, errorText, quality);
}
int QelApi::Draw(BITMAPINFOHEADER* image, QelWindow window) { return QEL_Draw(image, window); }
int QelApi::AddHuffman(const char* sourcePath, const char* targetPath) {
    return QEL_AddHuffman(sourcePath, targetPath);
}
int QelApi::OpenLib(QelMotionContext* context) { return QEL_open_lib(context); }
int QelApi::CloseLib(QelMotionContext* context) { return QEL_close_lib(context); }
int QelApi::OpenImage(QelMotionContext* context, const BYTE* data, DWORD length) {
    return QEL_open_image(context, data, length);
}
int QelApi::CloseImage(QelMotionContext* context) { return QEL_close_image(context); }
int QelApi::IsImageOpen(QelMotionContext* context) { return QEL_is_image_open(context); }
int QelApi::SetDepth(QelMotionContext* context, int depth) { return QEL_set_depth(context, depth); }
QelMotionContext* QelApi::SetDelta(QelMotionContext* context, int threshold) {
    return QEL_set_delta(context, threshold);
}
int QelApi::SetHistory(QelMotionContext* context, int count) {
    return QEL_set_history(context, count);
}
int QelApi::SetRoi(QelMotionContext* context, const BYTE* bitmap, int lengthBytes) {
    return QEL_set_roi(context, bitmap, lengthBytes);
}
int QelApi::Compare(QelMotionContext* context, int* mcuNumber, int advance) {
    return QEL_compare(context, mcuNumber, advance);
}
int QelApi::GetBlockCoef(QelMotionContext* context, int a, int b, int c) {
    return QEL_get_block_coef(context, a, b, c);
}
int QelApi::StartCoef(QelMotionContext* context) { return QEL_start_coef(context); }
int QelApi::BuildMessage(QelMotionContext* context, int type, int bit, BYTE* message,
                          DWORD* length, DWORD capacity, int quality) {
    return QEL_build_message(context, type, bit, message, length, capacity, quality);
}
int QelApi::StartScanImage(QelMotionContext* context) { return QEL_start_scan_image(context); }
int QelApi::StartScanImage2(QelMotionContext* context) { return QEL_start_scan_image(context); }
int QelApi::SetDrawLine(QelMotionContext* context, QelDrawLine callback) {
    return QEL_set_DrawLine(context, callback);
}
int QelApi::DecodeMessage(QelMotionContext* context, const BYTE* message, DWORD length) {
    return QEL_decode_message(context, message, length);
}

QEL_EXPORT DWORD DLLGetApiVer() { return kQelApiVersion; }

QEL_EXPORT IQelApi* DLLGetApi() {
    if (gApi == nullptr) {
        gApi = new (std::nothrow) QelApi();
        if (gApi == nullptr) {
            return nullptr;
        }
    }
    ++gApi->m_refCount;
    return gApi;
}
