// Stills: JPEG to and from image records, still files, drawing, Huffman insertion.

#include "qel/jpeg_glue.h"
#include "qel/qel.h"
#include "qel/stills_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qel {

char gErrorText[kQelErrorTextBytes];

const uint8_t kStillHeader[kQelStillHeaderBytes] = {
    0xFF, 0xD8,                                    // start of image
    0xFF, 0xE0, 0x00, 0x10,                        // APP0, length 16
    'J', 'F', 'I', 'F', 0x00, 0x01, 0x01,          // JFIF 1.01
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,      // no units, density 0, no thumbnail
    0xFF, 0xFE, 0x00, 0x14,                        // comment, length 20
    'O', 's', 't', 'r', 'e', 'l', 'i', 'x', ' ', 's', 'n', 'a', 'p', 's', 'h', 'o', 't', 0};

}  // namespace qel

using namespace qel;

namespace {

char** resetErrorText(char** errorText) {
    gErrorText[0] = '\0';
    if (errorText != nullptr) {
        *errorText = gErrorText;
    }
    return errorText;
}

BYTE* recordData(BITMAPINFOHEADER* record) { return reinterpret_cast<BYTE*>(record + 1); }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// ---- GetJPGInfo

struct InfoJob {
    jpeg_decompress_struct cinfo;
    ErrorHook hook;
    std::FILE* file;
    bool created;
};

bool infoStep(void* state) {
    auto* job = static_cast<InfoJob*>(state);
    jpeg_create_decompress(&job->cinfo);
    job->created = true;
    jpeg_stdio_src(&job->cinfo, job->file);
    return jpeg_read_header(&job->cinfo, TRUE) == JPEG_HEADER_OK;
}

LONG pelsPerMeter(int units, int density) {
    if (units == 1) {
        return static_cast<LONG>(std::lround(density * 39.37));
    }
    if (units == 2) {
        return density * 100;
    }
    return 0;
}

// ---- Decompress

struct DecompressJob {
    jpeg_decompress_struct cinfo;
    ErrorHook hook;
    MemorySource source;
    const BYTE* data;
    std::size_t length;
    WORD bitCount;
    uint64_t room;  // bytes the target can take
    BYTE* out;
    JDIMENSION width;
    JDIMENSION height;
    bool created;
};

bool decompressStep(void* state) {
    auto* job = static_cast<DecompressJob*>(state);
    auto* cinfo = &job->cinfo;
    jpeg_create_decompress(cinfo);
    job->created = true;
    attachMemorySource(cinfo, job->source, job->data, job->length, PastEnd::Fail);
    if (jpeg_read_header(cinfo, FALSE) != JPEG_HEADER_OK) {
        std::snprintf(job->hook.text, job->hook.textBytes, "No picture in the JPEG stream");
        return false;
    }
    // Streams without their own tables (motion JPEG) use the standard ones.
    installStandardTables(cinfo, false);
    // Colour lands as BGR straight in the record's rows (libjpeg-turbo's own
    // conversion); only an 8-bit target is widened from grey here.
    cinfo->out_color_space = job->bitCount == 8 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_calc_output_dimensions(cinfo);
    uint64_t needed = uint64_t{cinfo->output_width} * cinfo->output_height * 3;
    if (needed > job->room) {
        std::snprintf(job->hook.text, job->hook.textBytes,
                      "Picture %ux%u needs %llu bytes, the record has room for %llu",
                      cinfo->output_width, cinfo->output_height,
                      static_cast<unsigned long long>(needed),
                      static_cast<unsigned long long>(job->room));
        return false;
    }
    if (!jpeg_start_decompress(cinfo)) {
        return false;
    }
    const JDIMENSION width = cinfo->output_width;
    const JDIMENSION height = cinfo->output_height;
    const int components = cinfo->output_components;
    if (components == 3) {
        // Bottom-up rows: the first decoded row is the record's last.
        auto* rows = static_cast<JSAMPROW*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, sizeof(JSAMPROW) * height));
        for (JDIMENSION r = 0; r < height; ++r) {
            rows[r] = job->out + std::size_t{height - 1 - r} * width * 3;
        }
        while (cinfo->output_scanline < height) {
            const JDIMENSION r = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, rows + r, height - r) == 0) {
                return false;
            }
        }
    } else {
        JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                     JPOOL_IMAGE, width * components, 1);
        while (cinfo->output_scanline < height) {
            const JDIMENSION r = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, row, 1) != 1) {
                return false;
            }
            BYTE* target = job->out + std::size_t{height - 1 - r} * width * 3;
            const JSAMPLE* samples = row[0];
            for (JDIMENSION x = 0; x < width; ++x) {
                target[3 * x] = target[3 * x + 1] = target[3 * x + 2] = samples[x];
            }
        }
    }
    jpeg_finish_decompress(cinfo);
    job->width = width;
    job->height = height;
    return true;
}

// ---- Compress

struct CompressJob {
    jpeg_compress_struct cinfo;
    ErrorHook hook;
    MemoryDestination destination;
    const BYTE* source;
    int width;
    int height;
    int bytesPerPixel;
    int quality;
    BYTE* out;
    std::size_t capacity;
    bool created;
};

bool compressStep(void* state) {
    auto* job = static_cast<CompressJob*>(state);
    auto* cinfo = &job->cinfo;
    jpeg_create_compress(cinfo);
    job->created = true;
    attachMemoryDestination(cinfo, job->destination, job->out, job->capacity);
    cinfo->image_width = static_cast<JDIMENSION>(job->width);
    cinfo->image_height = static_cast<JDIMENSION>(job->height);
    cinfo->input_components = 3;
    // 24-bit rows go to libjpeg-turbo as they are (BGR, its own conversion);
    // 16- and 8-bit rows are widened to RGB here.
    cinfo->in_color_space = job->bytesPerPixel == 3 ? JCS_EXT_BGR : JCS_RGB;
    jpeg_set_defaults(cinfo);
    if (job->quality >= 0 && job->quality <= 100) {
        jpeg_set_quality(cinfo, job->quality, TRUE);
    }
    jpeg_start_compress(cinfo, TRUE);
    const std::size_t stride = std::size_t(job->width) * job->bytesPerPixel;
    if (job->bytesPerPixel == 3) {
        // Bottom-up rows: the record's last row is the picture's first.
        const JDIMENSION height = cinfo->image_height;
        auto* rows = static_cast<JSAMPROW*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, sizeof(JSAMPROW) * height));
        for (JDIMENSION r = 0; r < height; ++r) {
            rows[r] = const_cast<JSAMPLE*>(job->source + std::size_t(height - 1 - r) * stride);
        }
        while (cinfo->next_scanline < height) {
            const JDIMENSION r = cinfo->next_scanline;
            if (jpeg_write_scanlines(cinfo, rows + r, height - r) == 0) {
                return false;
            }
        }
        jpeg_finish_compress(cinfo);
        return true;
    }
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                 JPOOL_IMAGE, job->width * 3, 1);
    while (cinfo->next_scanline < cinfo->image_height) {
        const BYTE* from =
            job->source + std::size_t(job->height - 1 - int(cinfo->next_scanline)) * stride;
        JSAMPLE* to = row[0];
        const int width = job->width;
        if (job->bytesPerPixel == 2) {
            for (int x = 0; x < width; ++x) {
                const unsigned pixel = from[2 * x] | (unsigned(from[2 * x + 1]) << 8);
                to[3 * x] = JSAMPLE(((pixel >> 10) & 0x1F) << 3);
                to[3 * x + 1] = JSAMPLE(((pixel >> 5) & 0x1F) << 3);
                to[3 * x + 2] = JSAMPLE((pixel & 0x1F) << 3);
            }
        } else {
            for (int x = 0; x < width; ++x) {
                to[3 * x] = to[3 * x + 1] = to[3 * x + 2] = from[x];
            }
        }
        jpeg_write_scanlines(cinfo, row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

bool readExactly(std::FILE* file, void* buffer, std::size_t bytes) {
    return std::fread(buffer, 1, bytes, file) == bytes;
}

bool writeExactly(std::FILE* file, const void* buffer, std::size_t bytes) {
    return std::fwrite(buffer, 1, bytes, file) == bytes;
}

// Copies a segment whose marker was just read: its 2-byte length and body.
bool copySegment(std::FILE* in, std::FILE* out, const BYTE marker[2]) {
    BYTE lengthBytes[2];
    if (!writeExactly(out, marker, 2) || !readExactly(in, lengthBytes, 2) ||
        !writeExactly(out, lengthBytes, 2)) {
        return false;
    }
    const std::size_t length = (std::size_t(lengthBytes[0]) << 8) | lengthBytes[1];
    if (length < 2) {
        return false;
    }
    std::size_t left = length - 2;
    BYTE buffer[512];
    while (left > 0) {
        const std::size_t chunk = left < sizeof buffer ? left : sizeof buffer;
        if (!readExactly(in, buffer, chunk) || !writeExactly(out, buffer, chunk)) {
            return false;
        }
        left -= chunk;
    }
    return true;
}

// Copies the optional segment with the given marker; steps back when the next
// two bytes are something else.
bool copyOptionalSegment(std::FILE* in, std::FILE* out, BYTE second) {
    BYTE marker[2];
    const long at = std::ftell(in);
    const std::size_t got = std::fread(marker, 1, 2, in);
    if (got == 2 && marker[0] == 0xFF && marker[1] == second) {
        return copySegment(in, out, marker);
    }
    return std::fseek(in, at, SEEK_SET) == 0;
}

int addHuffman(std::FILE* in, std::FILE* out) {
    int previous = -1;
    for (;;) {
        const int c = std::fgetc(in);
        if (c == EOF) {
            return 0;
        }
        if (std::fputc(c, out) == EOF) {
            return 0;
        }
        if (previous == 0xFF && c == 0xD8) {
            break;
        }
        previous = c;
    }
    if (!copyOptionalSegment(in, out, 0xE0) || !copyOptionalSegment(in, out, 0xFE)) {
        return 0;
    }
    BYTE block[432];
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const StandardTable& table = standardTable(i);
        const std::size_t length = 2 + 17 + table.valueCount;
        block[at++] = 0xFF;
        block[at++] = 0xC4;
        block[at++] = BYTE(length >> 8);
        block[at++] = BYTE(length & 0xFF);
        block[at++] = table.classAndId;
        std::memcpy(block + at, table.counts, 16);
        at += 16;
        std::memcpy(block + at, table.values, table.valueCount);
        at += table.valueCount;
    }
    if (at != sizeof block || !writeExactly(out, block, sizeof block)) {
        return 0;
    }
    BYTE buffer[512];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        if (got > 0 && !writeExactly(out, buffer, got)) {
            return 0;
        }
        if (got < sizeof buffer) {
            return std::ferror(in) ? 0 : 1;
        }
    }
}

}  // namespace

QEL_EXPORT int QEL_GetJPGInfo(const char* path, BITMAPINFOHEADER* info, char** errorText) {
    resetErrorText(errorText);
    if (path == nullptr || info == nullptr) {
        return 0;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        return 0;
    }
    auto* job = static_cast<InfoJob*>(std::calloc(1, sizeof(InfoJob)));
    if (job == nullptr) {
        return 0;
    }
    job->cinfo.err = installErrorHook(job->hook, gErrorText, sizeof gErrorText);
    job->file = file.get();
    const bool ok = runGuarded(job->hook, infoStep, job);
    int result = 0;
    if (ok) {
        std::fseek(file.get(), 0, SEEK_END);
        const long fileBytes = std::ftell(file.get());
        std::memset(info, 0, sizeof *info);
        info->biSize = sizeof(BITMAPINFOHEADER);
        info->biWidth = static_cast<LONG>(job->cinfo.image_width);
        info->biHeight = static_cast<LONG>(job->cinfo.image_height);
        info->biPlanes = 1;
        info->biBitCount = 24;
        info->biCompression = BI_RGB;
        info->biSizeImage = fileBytes > 0 ? static_cast<DWORD>(fileBytes) : 0;
        info->biXPelsPerMeter = pelsPerMeter(job->cinfo.density_unit, job->cinfo.X_density);
        info->biYPelsPerMeter = pelsPerMeter(job->cinfo.density_unit, job->cinfo.Y_density);
        result = 1;
    }
    if (job->created) {
        jpeg_destroy_decompress(&job->cinfo);
    }
    std::free(job);
    return result;
}

QEL_EXPORT int QEL_ReadDIB(const char* path, BITMAPINFOHEADER* image) {
    if (path == nullptr || image == nullptr) {
        return 0;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        return 0;
    }
    const std::size_t wanted = image->biSizeImage;
    const std::size_t got = std::fread(recordData(image), 1, wanted, file.get());
    return got >= wanted ? 1 : 0;
}

QEL_EXPORT int QEL_SaveDIB(const char* path, BITMAPINFOHEADER* image) {
    if (path == nullptr || image == nullptr || image->biSizeImage < 2) {
        return 0;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb"));
    if (!file) {
        return 0;
    }
    const std::size_t rest = image->biSizeImage - 2;
    if (!writeExactly(file.get(), kStillHeader, sizeof kStillHeader) ||
        !writeExactly(file.get(), recordData(image) + 2, rest)) {
        return 0;
    }
    return std::fclose(file.release()) == 0 ? 1 : 0;
}

QEL_EXPORT int QEL_Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target,
                              char** errorText) {
    resetErrorText(errorText);
    if (source == nullptr || target == nullptr) {
        return 0;
    }
    std::memmove(target, source, sizeof *target);
    auto* job = static_cast<DecompressJob*>(std::calloc(1, sizeof(DecompressJob)));
    if (job == nullptr) {
        return 0;
    }
    job->cinfo.err = installErrorHook(job->hook, gErrorText, sizeof gErrorText);
    job->data = recordData(source);
    job->length = source->biSizeImage;
    job->bitCount = source->biBitCount;
    job->room = uint64_t(std::llabs(source->biWidth)) * uint64_t(std::llabs(source->biHeight)) * 3;
    job->out = recordData(target);
    const bool ok = runGuarded(job->hook, decompressStep, job);
    if (ok) {
        target->biWidth = static_cast<LONG>(job->width);
        target->biHeight = static_cast<LONG>(job->height);
    }
    if (job->created) {
        jpeg_destroy_decompress(&job->cinfo);
    }
    std::free(job);
    return ok ? 1 : 0;
}

QEL_EXPORT int QEL_Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target, char** errorText,
                            int quality) {
    resetErrorText(errorText);
    if (source == nullptr || target == nullptr) {
        return 0;
    }
    const WORD bitCount = source->biBitCount;
    const int width = source->biWidth;
    const int height = source->biHeight;
    // The room the caller gave for the stream is the source's size as it came:
    // the size rewritten below for a 8- or 16-bit source is not the caller's.
    const std::size_t room = source->biSizeImage;
    std::memmove(target, source, sizeof *target);
    if (bitCount == 16 || bitCount == 8) {
        target->biBitCount = 24;
        source->biSizeImage = static_cast<DWORD>(int64_t(width) * height * 3);
    }
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION ||
        (bitCount != 8 && bitCount != 16 && bitCount != 24)) {
        std::snprintf(gErrorText, sizeof gErrorText, "Invalid image: %dx%d, %u bits per pixel",
                      width, height, unsigned(bitCount));
        return 0;
    }
    auto* job = static_cast<CompressJob*>(std::calloc(1, sizeof(CompressJob)));
    if (job == nullptr) {
        return 0;
    }
    job->cinfo.err = installErrorHook(job->hook, gErrorText, sizeof gErrorText);
    job->source = recordData(source);
    job->width = width;
    job->height = height;
    job->bytesPerPixel = bitCount / 8;
    job->quality = quality;
    job->out = recordData(target);
    job->capacity = room;
    bool ok = runGuarded(job->hook, compressStep, job);
    if (ok && overflowed(job->destination)) {
        const std::size_t needed = bytesNeeded(job->destination);
        std::snprintf(gErrorText, sizeof gErrorText,
                      "Compressed picture needs %zu bytes, room for %zu", needed, job->capacity);
        target->biSizeImage = static_cast<DWORD>(needed);
        ok = false;
    } else if (ok) {
        target->biSizeImage = static_cast<DWORD>(bytesWritten(job->destination));
    }
    if (job->created) {
        jpeg_destroy_compress(&job->cinfo);
    }
    std::free(job);
    return ok ? 1 : 0;
}

QEL_EXPORT int QEL_Draw(BITMAPINFOHEADER* image, QelWindow window) {
    if (image == nullptr || window == nullptr || window->pixels == nullptr || image->biWidth <= 0 ||
        image->biHeight <= 0 || image->biBitCount != 24 || window->width < 0 ||
        window->height < 0 || window->stride / 4 < window->width) {
        return 0;
    }
    const int width = image->biWidth;
    const int height = image->biHeight;
    // Centred, the odd pixel to the left and top (floor of a half).
    const auto floorHalf = [](int64_t d) { return static_cast<int>(d >= 0 ? d / 2 : -((1 - d) / 2)); };
    const int left = floorHalf(int64_t(window->width) - width);
    const int top = floorHalf(int64_t(window->height) - height);
    const BYTE* data = recordData(image);
    const int64_t firstRow = std::max(0, top), endRow = std::min<int64_t>(window->height, int64_t(top) + height);
    const int64_t firstColumn = std::max(0, left), endColumn = std::min<int64_t>(window->width, int64_t(left) + width);
    for (int64_t y = firstRow; y < endRow; ++y) {
        const BYTE* row = data + std::size_t(height - 1 - (y - top)) * std::size_t(width) * 3;  // bottom-up
        auto* out = reinterpret_cast<uint32_t*>(reinterpret_cast<BYTE*>(window->pixels) +
                                                std::size_t(y) * std::size_t(window->stride));
        for (int64_t x = firstColumn; x < endColumn; ++x) {
            const BYTE* pixel = row + std::size_t(x - left) * 3;
            out[x] = 0xFF000000u | uint32_t(pixel[2]) << 16 | uint32_t(pixel[1]) << 8 | pixel[0];
        }
    }
    return 1;
}

QEL_EXPORT int QEL_AddHuffman(const char* sourcePath, const char* targetPath) {
    if (sourcePath == nullptr || targetPath == nullptr) {
        return 0;
    }
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(sourcePath, "rb"));
    if (!in) {
        return 0;
    }
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(targetPath, "wb"));
    if (!out) {
        return 0;
    }
    int result = addHuffman(in.get(), out.get());
    if (std::fclose(out.release()) != 0) {
        result = 0;
    }
    return result;
}
