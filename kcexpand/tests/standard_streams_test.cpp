// H.263 and H.261 streams encoded by the ffmpeg program, decoded by this
// decoder and by libavcodec, compared picture by picture.

#include "kcexpand/kc_context.h"
#include "kcexpand/kcexpand.h"
#include "kcexpand/testing/ffmpeg_streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace kcexpand::testing;

std::filesystem::path streamFolder() {
    const char* home = std::getenv("VELMOOR_HOME");
    return std::filesystem::path(home != nullptr ? home : "/tmp") / "streams";
}

struct StreamCase {
    const char* codec;
    const char* size;
    int qscale;
    int width, height;
    const char* extra = "";  // more encoder options
    const char* tag = "";    // and their name in the case's name
};

std::string caseName(const ::testing::TestParamInfo<StreamCase>& info) {
    return std::string(info.param.codec) + "_" + info.param.size + "_q" + std::to_string(info.param.qscale) +
           info.param.tag;
}

// Decodes every picture with both decoders; returns the per-picture PSNR of
// the three planes and of the painted 24-bit image.
struct Comparison {
    std::vector<double> luma, cb, cr, painted;
};

Comparison compare(const StreamCase& c, bool ituH261 = false) {
    Comparison result;
    const bool h261 = std::string(c.codec) == "h261";
    const Bytes stream = encodeStream(streamFolder(), c.codec, c.size, c.qscale, 24, c.extra);
    EXPECT_FALSE(stream.empty()) << "the ffmpeg program did not encode the stream";
    const std::vector<Bytes> pictures = splitPictures(stream, h261);
    EXPECT_EQ(pictures.size(), 24u);

    KcExpandContext* ctx = KcExpandOpen();
    kcexpand::data(ctx).ituH261 = ituH261;
    BITMAPINFOHEADER format{};
    format.biSize = 40;
    format.biWidth = c.width;
    format.biHeight = -c.height;  // top-down
    format.biPlanes = 1;
    format.biBitCount = 24;
    const MetaItem items[] = {
        {KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&format)},
        {KCATTR_OUTPUT_MODE, 2, KCMODE_BGR24},
    };
    EXPECT_EQ(KcExpandSetAttributes(ctx, items, 2), 1);
    Bytes image(std::size_t(c.width) * std::size_t(c.height) * 3);
    AvDecoder reference(h261);
    Picture ours;
    ours.y.resize(std::size_t(c.width) * std::size_t(c.height));
    ours.cb.resize(ours.y.size() / 4);
    ours.cr.resize(ours.y.size() / 4);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const std::uint32_t r = KcExpandBuffer(ctx, pictures[i].data(), std::uint32_t(pictures[i].size()), image.data());
        EXPECT_EQ(r & kKcNotPainted, 0u) << "picture " << i << " error " << kcexpand::lastError(ctx);
        EXPECT_EQ((r & kKcFormatChanged) != 0, i == 0) << "picture " << i;
        EXPECT_EQ(KcExpandGetAttribute(ctx, kKcAttrWidth), std::uint32_t(c.width));
        EXPECT_EQ(KcExpandGetAttribute(ctx, kKcAttrHeight), std::uint32_t(c.height));
        const AVFrame* frame = reference.decode(pictures[i]);
        if (frame == nullptr) {
            ADD_FAILURE() << "libavcodec decoded no picture " << i;
            break;
        }
        const Picture theirs = AvDecoder::planes(frame);
        EXPECT_TRUE(kcexpand::copyPlanes(ctx, ours.y.data(), ours.cb.data(), ours.cr.data()));
        result.luma.push_back(psnr(ours.y, theirs.y));
        result.cb.push_back(psnr(ours.cb, theirs.cb));
        result.cr.push_back(psnr(ours.cr, theirs.cr));
        // The painted image against libavcodec's planes through the same conversion.
        Bytes expected(image.size());
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const std::size_t ci = std::size_t(y / 2) * std::size_t(c.width / 2) + std::size_t(x / 2);
                kcexpand::convertPixel(theirs.y[std::size_t(y * c.width + x)], theirs.cb[ci], theirs.cr[ci],
                                       &expected[(std::size_t(y) * std::size_t(c.width) + std::size_t(x)) * 3]);
            }
        }
        result.painted.push_back(psnr(image, expected));
    }
    KcExpandClose(ctx);
    return result;
}

void report(const char* what, const std::vector<double>& values) {
    if (values.empty()) {
        return;
    }
    double sum = 0;
    for (double v : values) sum += v;
    std::printf("  %-8s min %.2f dB  mean %.2f dB\n", what, *std::min_element(values.begin(), values.end()),
                sum / double(values.size()));
}

class H263Streams : public ::testing::TestWithParam<StreamCase> {};

// Both inverse transforms differ only in rounding: every picture stays within
// 40 dB of libavcodec's, in every plane and in the painted image.
TEST_P(H263Streams, MatchLibavcodecOnEveryPicture) {
    const Comparison c = compare(GetParam());
    ASSERT_EQ(c.luma.size(), 24u);
    report("luma", c.luma);
    report("cb", c.cb);
    report("cr", c.cr);
    report("painted", c.painted);
    for (std::size_t i = 0; i < c.luma.size(); ++i) {
        EXPECT_GE(c.luma[i], 40.0) << "picture " << i;
        EXPECT_GE(c.cb[i], 40.0) << "picture " << i;
        EXPECT_GE(c.cr[i], 40.0) << "picture " << i;
        EXPECT_GE(c.painted[i], 40.0) << "picture " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, H263Streams,
                         ::testing::Values(StreamCase{"h263", "cif", 2, 352, 288}, StreamCase{"h263", "cif", 8, 352, 288},
                                           StreamCase{"h263", "qcif", 4, 176, 144},
                                           StreamCase{"h263", "qcif", 16, 176, 144},
                                           StreamCase{"h263", "sqcif", 5, 128, 96},
                                           // GOB headers in every picture (payload size for packetisation).
                                           StreamCase{"h263", "cif", 6, 352, 288, "-ps 600", "_gobs"}),
                         caseName);

class H261Streams : public ::testing::TestWithParam<StreamCase> {};

// H.261 keeps its own intra DC (8 x level + 4) and chroma vector rounding
// ((v + 1) / 2): luma stays within 40 dB of libavcodec's on every picture; the
// chroma figures are reported.
TEST_P(H261Streams, LumaMatchesLibavcodecOnEveryPicture) {
    const Comparison c = compare(GetParam());
    ASSERT_EQ(c.luma.size(), 24u);
    report("luma", c.luma);
    report("cb", c.cb);
    report("cr", c.cr);
    report("painted", c.painted);
    for (std::size_t i = 0; i < c.luma.size(); ++i) {
        EXPECT_GE(c.luma[i], 40.0) << "picture " << i;
    }
}

// With the ITU intra DC, chroma vector rounding and loop filter rounding in
// place of this decoder's own, every plane matches: the departures explain
// the chroma figures.
TEST_P(H261Streams, TheDeparturesExplainTheDifferences) {
    const Comparison c = compare(GetParam(), true);
    ASSERT_EQ(c.luma.size(), 24u);
    report("luma", c.luma);
    report("cb", c.cb);
    report("cr", c.cr);
    for (std::size_t i = 0; i < c.luma.size(); ++i) {
        EXPECT_GE(c.luma[i], 50.0) << "picture " << i;
        EXPECT_GE(c.cb[i], 50.0) << "picture " << i;
        EXPECT_GE(c.cr[i], 50.0) << "picture " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, H261Streams,
                         ::testing::Values(StreamCase{"h261", "cif", 3, 352, 288}, StreamCase{"h261", "cif", 10, 352, 288},
                                           StreamCase{"h261", "qcif", 6, 176, 144},
                                           // The loop filter on motion-compensated macroblocks.
                                           StreamCase{"h261", "cif", 4, 352, 288, "-flags +loop", "_loop"}),
                         caseName);

}  // namespace

namespace {

// A context that paints CIF pictures of the forced kind (2 H.263, 3 H.261),
// each packet behind a payload header, into a 24-bit top-down image.
KcExpandContext* openCifBehindPayloadHeaders(int kind) {
    KcExpandContext* ctx = KcExpandOpen();
    BITMAPINFOHEADER format{40, 352, -288, 1, 24, 0, 0, 0, 0, 0, 0};
    const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&format)},
                              {KCATTR_OUTPUT_MODE, 2, KCMODE_BGR24},
                              {KCATTR_PAYLOAD_HEADER, 2, 1},
                              {KCATTR_STREAM_KIND, 2, std::uintptr_t(kind)}};
    if (KcExpandSetAttributes(ctx, items, 4) != 1) {
        KcExpandClose(ctx);
        return nullptr;
    }
    return ctx;
}

// Room for the planes of one CIF picture.
Picture cifPicture() {
    Picture p;
    p.y.resize(352 * 288);
    p.cb.resize(352 * 288 / 4);
    p.cr.resize(352 * 288 / 4);
    return p;
}

// The picture this decoder holds against libavcodec's decoding of the same
// coded picture: every plane within `minimumDb`.
void expectPictureMatches(KcExpandContext* ctx, AvDecoder& reference, const Bytes& coded, Picture& ours,
                          double minimumDb, std::size_t n) {
    const AVFrame* frame = reference.decode(coded);
    ASSERT_NE(frame, nullptr) << "picture " << n;
    const Picture theirs = AvDecoder::planes(frame);
    ASSERT_TRUE(kcexpand::copyPlanes(ctx, ours.y.data(), ours.cb.data(), ours.cr.data()));
    EXPECT_GE(psnr(ours.y, theirs.y), minimumDb) << "picture " << n;
    EXPECT_GE(psnr(ours.cb, theirs.cb), minimumDb) << "picture " << n;
    EXPECT_GE(psnr(ours.cr, theirs.cr), minimumDb) << "picture " << n;
}

// Packets as a payload format carries them: each picture cut at its GOB start
// codes, each piece behind a 4-byte header (F 0, P 0, no skipped bits, the
// source format, the picture type, TR). Only the packet with the last GOB
// finishes the picture.
TEST(H263PayloadHeaders, GobPacketsRebuildEveryPicture) {
    const Bytes stream = encodeStream(streamFolder(), "h263", "cif", 6, 24, "-ps 600");
    const std::vector<Bytes> pictures = splitPictures(stream, false);
    ASSERT_EQ(pictures.size(), 24u);
    KcExpandContext* ctx = openCifBehindPayloadHeaders(2);
    ASSERT_NE(ctx, nullptr);
    Bytes image(352 * 288 * 3);
    AvDecoder reference(false);
    Picture ours = cifPicture();
    for (std::size_t n = 0; n < pictures.size(); ++n) {
        const Bytes& p = pictures[n];
        const bool intra = ((p[4] >> 1) & 1) == 0;
        std::vector<std::size_t> cuts = {0};
        for (std::size_t i = 3; i + 2 < p.size(); ++i) {
            if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] >= 0x84 && p[i + 2] < 0xFC) cuts.push_back(i);
        }
        ASSERT_GT(cuts.size(), 1u) << "no GOB headers in picture " << n;
        cuts.push_back(p.size());
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            Bytes packet = {0x00, 0x60, std::uint8_t(intra ? 0x80 : 0x00), p[2]};
            packet.insert(packet.end(), p.begin() + std::ptrdiff_t(cuts[k]), p.begin() + std::ptrdiff_t(cuts[k + 1]));
            const std::uint32_t r = KcExpandBuffer(ctx, packet.data(), std::uint32_t(packet.size()), image.data());
            const bool lastPacket = k + 2 == cuts.size();
            EXPECT_EQ((r & kKcNotPainted) == 0, lastPacket) << "picture " << n << " packet " << k;
            EXPECT_EQ(kcexpand::lastError(ctx), 0u) << "picture " << n << " packet " << k;
        }
        expectPictureMatches(ctx, reference, p, ours, 40.0, n);
    }
    KcExpandClose(ctx);
}

}  // namespace

namespace {

// Bit positions of the GOB start codes (15 zeros, a one, GN not 0) of one
// H.261 picture; they need not fall on byte boundaries.
std::vector<std::size_t> h261GobStarts(const Bytes& picture) {
    auto bit = [&](std::size_t at) { return (picture[at / 8] >> (7 - at % 8)) & 1; };
    std::vector<std::size_t> starts;
    const std::size_t bits = picture.size() * 8;
    std::size_t zeros = 0;
    for (std::size_t at = 0; at + 4 < bits; ++at) {
        if (bit(at) == 0) {
            ++zeros;
            continue;
        }
        if (zeros >= 15) {
            int gn = 0;
            for (std::size_t k = 1; k <= 4; ++k) gn = gn * 2 + bit(at + k);
            if (gn != 0) starts.push_back(at - 15);
        }
        zeros = 0;
    }
    return starts;
}

// One packet per GOB, each behind a 4-byte header giving the bits to skip:
// the first packet holds the picture header, the others begin with their GOB
// start code. Inter pictures whose last macroblocks are not coded do not
// finish; each is still the reference of the next one, so every picture
// decodes as libavcodec decodes it.
TEST(H261PayloadHeaders, UnpaintedPicturesStayTheReferenceOfTheNext) {
    const Bytes stream = encodeStream(streamFolder(), "h261", "cif", 8, 40);
    const std::vector<Bytes> pictures = splitPictures(stream, true);
    ASSERT_EQ(pictures.size(), 40u);
    KcExpandContext* ctx = openCifBehindPayloadHeaders(3);
    ASSERT_NE(ctx, nullptr);
    kcexpand::data(ctx).ituH261 = true;
    Bytes image(352 * 288 * 3);
    AvDecoder reference(true);
    Picture ours = cifPicture();
    int unpainted = 0;
    for (std::size_t n = 0; n < pictures.size(); ++n) {
        const Bytes& p = pictures[n];
        std::vector<std::size_t> cuts = h261GobStarts(p);
        ASSERT_EQ(cuts.size(), 12u) << "picture " << n;
        cuts.front() = 0;  // the first packet begins with the picture header
        cuts.push_back(p.size() * 8);
        bool painted = false;
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            const std::size_t from = cuts[k] / 8, to = (cuts[k + 1] + 7) / 8;
            Bytes packet = {std::uint8_t((cuts[k] % 8) << 5), 0, 0, 0};
            packet.insert(packet.end(), p.begin() + std::ptrdiff_t(from), p.begin() + std::ptrdiff_t(to));
            const std::uint32_t r = KcExpandBuffer(ctx, packet.data(), std::uint32_t(packet.size()), image.data());
            EXPECT_EQ(kcexpand::lastError(ctx), 0u) << "picture " << n << " packet " << k;
            painted = painted || (r & kKcNotPainted) == 0;
        }
        unpainted += painted ? 0 : 1;
        expectPictureMatches(ctx, reference, p, ours, 50.0, n);
    }
    std::printf("  %d of %zu pictures not finished by their packets\n", unpainted, pictures.size());
    KcExpandClose(ctx);
}

}  // namespace
