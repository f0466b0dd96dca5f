// SPDX-License-Identifier: MIT
// zmbtool decode --webm as a browser meets it: the file read back by libwebm's parser, its
// pictures by libvpx's decoder and its sound by libopus's, against the exact frames and sound.
#include <gtest/gtest.h>
#include <opus/opus.h>
#include <samplerate.h>
#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>
#include <webm/callback.h>
#include <webm/file_reader.h>
#include <webm/webm_parser.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "encoder/writer.h"
#include "run_tool.h"

using zambrel::testing::ReadFileBytes;
using namespace zambrel::encoder;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kWidth = 64, kHeight = 48, kFrames = 30;
constexpr double kPeriodMs = 66.66;

struct Track {
    std::uint64_t number = 0, type = 0, codecDelay = 0, width = 0, height = 0, channels = 0;
    std::string codec, name;
    Bytes codecPrivate;
};

struct Frame {
    std::uint64_t track;
    std::int64_t ms;
    bool key;
    Bytes data;
};

// Everything of a WebM this test looks at, gathered by libwebm's parser.
class Gather : public webm::Callback {
  public:
    double duration = -1;
    std::map<std::uint64_t, Track> tracks;
    std::vector<Frame> frames;
    std::size_t cues = 0;

    webm::Status OnInfo(const webm::ElementMetadata&, const webm::Info& info) override {
        duration = info.duration.value();
        return webm::Status(webm::Status::kOkCompleted);
    }
    webm::Status OnTrackEntry(const webm::ElementMetadata&, const webm::TrackEntry& e) override {
        Track t;
        t.number = e.track_number.value();
        t.type = static_cast<std::uint64_t>(e.track_type.value());
        t.codec = e.codec_id.value();
        t.name = e.name.value();
        t.codecPrivate = e.codec_private.value();
        t.codecDelay = e.codec_delay.value();
        t.width = e.video.value().pixel_width.value();
        t.height = e.video.value().pixel_height.value();
        t.channels = e.audio.value().channels.value();
        tracks[t.number] = t;
        return webm::Status(webm::Status::kOkCompleted);
    }
    webm::Status OnCuePoint(const webm::ElementMetadata&, const webm::CuePoint&) override {
        ++cues;
        return webm::Status(webm::Status::kOkCompleted);
    }
    webm::Status OnClusterBegin(const webm::ElementMetadata&, const webm::Cluster& cluster,
                                webm::Action* action) override {
        clusterMs_ = static_cast<std::int64_t>(cluster.timecode.value());
        *action = webm::Action::kRead;
        return webm::Status(webm::Status::kOkCompleted);
    }
    webm::Status OnSimpleBlockBegin(const webm::ElementMetadata&, const webm::SimpleBlock& block,
                                    webm::Action* action) override {
        block_ = {block.track_number, clusterMs_ + block.timecode, block.is_key_frame, {}};
        *action = webm::Action::kRead;
        return webm::Status(webm::Status::kOkCompleted);
    }
    webm::Status OnFrame(const webm::FrameMetadata&, webm::Reader* reader,
                         std::uint64_t* remaining) override {
        Frame frame = block_;
        frame.data.resize(*remaining);
        std::uint64_t got = 0;
        const webm::Status status = reader->Read(*remaining, frame.data.data(), &got);
        if (!status.completed_ok()) return status;
        *remaining = 0;
        frames.push_back(std::move(frame));
        return webm::Status(webm::Status::kOkCompleted);
    }

  private:
    std::int64_t clusterMs_ = 0;
    Frame block_;
};

bool Parse(const std::string& path, Gather* gather) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    webm::FileReader reader(file);
    webm::WebmParser parser;
    return parser.Feed(gather, &reader).completed_ok();
}

// The decoded pictures as RGB, converted back by the BT.601 limited-range matrix.
std::vector<Bytes> DecodeVideo(const std::vector<Frame>& frames) {
    vpx_codec_ctx_t codec;
    EXPECT_EQ(vpx_codec_dec_init(&codec, vpx_codec_vp9_dx(), nullptr, 0), VPX_CODEC_OK);
    std::vector<Bytes> pictures;
    for (const Frame& frame : frames) {
        if (frame.track != 1) continue;
        EXPECT_EQ(vpx_codec_decode(&codec, frame.data.data(),
                                   static_cast<unsigned>(frame.data.size()), nullptr, 0),
                  VPX_CODEC_OK);
        vpx_codec_iter_t iterator = nullptr;
        while (vpx_image_t* image = vpx_codec_get_frame(&codec, &iterator)) {
            Bytes rgb;
            const int xs = image->x_chroma_shift, ys = image->y_chroma_shift;
            for (unsigned y = 0; y < image->d_h; ++y)
                for (unsigned x = 0; x < image->d_w; ++x) {
                    const double l = image->planes[0][y * image->stride[0] + x] - 16.0;
                    const double u =
                        image->planes[1][(y >> ys) * image->stride[1] + (x >> xs)] - 128.0;
                    const double v =
                        image->planes[2][(y >> ys) * image->stride[2] + (x >> xs)] - 128.0;
                    const double yy = l * 255 / 219, cb = u * 255 / 224, cr = v * 255 / 224;
                    for (double c :
                         {yy + 1.402 * cr, yy - 0.344136 * cb - 0.714136 * cr, yy + 1.772 * cb})
                        rgb.push_back(
                            static_cast<std::uint8_t>(std::clamp(std::lround(c), 0L, 255L)));
                }
            pictures.push_back(std::move(rgb));
        }
    }
    vpx_codec_destroy(&codec);
    return pictures;
}

// A track's whole sound at 48 kHz as libopus decodes it, the pre-skip dropped.
std::vector<float> DecodeAudio(const Track& track, const std::vector<Frame>& frames) {
    int status = 0;
    const int channels = static_cast<int>(track.channels);
    OpusDecoder* decoder = opus_decoder_create(48000, channels, &status);
    std::vector<float> sound;
    std::vector<float> packet(5760 * 2);
    for (const Frame& frame : frames) {
        if (frame.track != track.number) continue;
        const int n =
            opus_decode_float(decoder, frame.data.data(),
                              static_cast<opus_int32>(frame.data.size()), packet.data(), 5760, 0);
        EXPECT_GT(n, 0);
        sound.insert(sound.end(), packet.begin(), packet.begin() + std::max(n, 0) * channels);
    }
    opus_decoder_destroy(decoder);
    const std::size_t preSkip = track.codecPrivate[10] | track.codecPrivate[11] << 8;
    sound.erase(sound.begin(),
                sound.begin() + std::ptrdiff_t(std::min(preSkip * channels, sound.size())));
    return sound;
}

// The movie's own sound bytes of a track, as floats at 48 kHz by libsamplerate.
std::vector<float> Reference(const Bytes& pcm, bool sixteen, int channels, int rate) {
    std::vector<float> in;
    for (std::size_t i = 0; i + (sixteen ? 1 : 0) < pcm.size(); i += sixteen ? 2 : 1)
        in.push_back(sixteen ? static_cast<std::int16_t>(pcm[i] | pcm[i + 1] << 8) / 32768.0f
                             : (pcm[i] - 128) / 128.0f);
    if (rate == 48000) return in;
    const double ratio = 48000.0 / rate;
    std::vector<float> out(static_cast<std::size_t>(in.size() * ratio) + 64);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(in.size() / channels);
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size() / channels);
    data.src_ratio = ratio;
    EXPECT_EQ(src_simple(&data, SRC_SINC_BEST_QUALITY, channels), 0);
    out.resize(static_cast<std::size_t>(data.output_frames_gen) * channels);
    return out;
}

double SnrDb(const std::vector<float>& reference, const std::vector<float>& got) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < reference.size() && i < got.size(); ++i) {
        signal += double(reference[i]) * reference[i];
        noise += double(reference[i] - got[i]) * (reference[i] - got[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-12));
}

class ZmbtoolWebm : public ToolFolderTest {
  protected:
    ZmbtoolWebm() : ToolFolderTest("webm") {}

    // Smooth, moving pictures under a palette of gradients, shown doubled; one track that
    // Opus must have resampled and one it takes at its own rate.
    std::string WriteMovie() {
        MovieRecipe recipe;
        recipe.width = kWidth;
        recipe.height = kHeight;
        recipe.doubled = true;
        recipe.frameRate = -6666;
        for (std::uint32_t f = 0; f < kFrames; ++f) {
            Picture picture;
            picture.pixels.resize(kWidth * kHeight);
            for (std::uint32_t i = 0; i < picture.pixels.size(); ++i) {
                const std::uint32_t x = i % kWidth, y = i / kWidth;
                picture.pixels[i] = static_cast<std::uint8_t>((x * 2 + y + f * 3) & 0xFF);
            }
            for (int e = 0; e < 256; ++e) {
                picture.palette[e * 3] = WidenLevel(static_cast<std::uint8_t>(e / 4));
                picture.palette[e * 3 + 1] = WidenLevel(static_cast<std::uint8_t>(63 - e / 4));
                picture.palette[e * 3 + 2] = WidenLevel(static_cast<std::uint8_t>((e / 2) & 63));
            }
            recipe.pictures.push_back(picture);
        }
        const auto tone = [](double t, int c) {
            return 0.4 * std::sin(2 * M_PI * (440 + 220 * c) * t) +
                   0.2 * std::sin(2 * M_PI * 1250 * t);
        };
        SoundTrack& stereo = recipe.tracks[1];
        stereo.present = true, stereo.sampleRate = 22050, stereo.is16Bit = true,
        stereo.stereo = true;
        for (int i = 0; i < 22050 * 2; ++i)
            for (int c = 0; c < 2; ++c) {
                const auto v = static_cast<std::int16_t>(std::lround(32767 * tone(i / 22050.0, c)));
                stereo.samples.push_back(static_cast<std::uint8_t>(v & 0xFF));
                stereo.samples.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
            }
        SoundTrack& mono = recipe.tracks[4];
        mono.present = true, mono.sampleRate = 16000, mono.is16Bit = false, mono.stereo = false;
        for (int i = 0; i < 16000 * 2; ++i)
            mono.samples.push_back(
                static_cast<std::uint8_t>(std::lround(128 + 127 * tone(i / 16000.0, 1))));
        const std::string path = Path("m.zmb");
        std::string error;
        EXPECT_TRUE(WriteMovieFile(recipe, path, &error)) << error;
        return path;
    }
};

double PsnrDb(const Bytes& a, const Bytes& b, int* worst) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const int d = a[i] - b[i];
        sum += d * d, *worst = std::max(*worst, std::abs(d));
    }
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / std::max(sum, 1e-9));
}

TEST_F(ZmbtoolWebm, ReadsBackWithEveryTrackTheDurationAndTheFramesAndSound) {
    const std::string movie = WriteMovie();
    // How long track N's decoded sound lasts, in ms (track 1: 16-bit stereo at 22050 Hz).
    const auto SoundMs = [this](int n) {
        const double bytes =
            double(ReadFileBytes(Path("track" + std::to_string(n) + ".pcm")).size());
        return n == 1 ? 1000.0 * (bytes / 4) / 22050 : 1000.0 * bytes / 16000;
    };
    ASSERT_EQ(
        RunTool("decode " + movie + " --rgb24 " + Path("ref.rgb") + " --pcm " + folder_.string())
            .status,
        0);
    // libvpx's lossless mode keeps the Y'CbCr planes, so only their rounding is left.
    struct Case {
        const char* options;
        const char* output;
        double psnrFloor;
        int worstLimit;
        std::size_t audioTracks;
    };
    const Case cases[] = {
        {"--webm OUT", "a.webm", 26, 255, 2},
        {"--webm OUT --webm-lossless --tracks 4", "b.webm", 45, 3, 1},
        {"--webm - --webm-quality 40 | cat > OUT", "c.webm", 24, 255, 2},
    };
    const Bytes reference = ReadFileBytes(Path("ref.rgb"));
    const std::size_t frameBytes = std::size_t{kWidth} * kHeight * 2 * 3;
    ASSERT_EQ(reference.size(), frameBytes * kFrames);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        std::string options = c.options;
        options.replace(options.find("OUT"), 3, Path(c.output));
        const RunResult run = RunTool("decode " + movie + " " + options);
        ASSERT_EQ(run.status, 0) << run.output;
        // These small busy pictures lose much to 4:2:0 (29.5 dB), and are told so; 4:4:4
        // loses nothing of the kind. (The stream's note goes where the test cannot see it.)
        const bool noted = run.output.find("4:2:0 colour alone keeps these pictures to 29.5 dB") !=
                           std::string::npos;
        if (std::string(c.output) != "c.webm") {
            EXPECT_EQ(noted, std::string(c.output) == "a.webm") << run.output;
        }
        Gather webm;
        ASSERT_TRUE(Parse(Path(c.output), &webm));
        // The sound's 2 s run past the last picture's end (1999.8 ms), and so does a file; a
        // stream can only say the pictures' planned length, at its start.
        const bool stream = options.find('>') != std::string::npos;
        const double soundMs = c.audioTracks == 2 ? SoundMs(1) : SoundMs(4);
        ASSERT_GT(soundMs, kFrames * kPeriodMs);
        EXPECT_NEAR(webm.duration, stream ? kFrames * kPeriodMs : soundMs, 1e-6);
        ASSERT_EQ(webm.tracks.size(), 1 + c.audioTracks);
        EXPECT_EQ(webm.tracks[1].codec, "V_VP9");
        EXPECT_EQ(webm.tracks[1].width, kWidth);
        EXPECT_EQ(webm.tracks[1].height, kHeight * 2);
        std::vector<std::int64_t> times;
        std::size_t keys = 0;
        for (const Frame& f : webm.frames)
            if (f.track == 1) times.push_back(f.ms), keys += f.key;
        // Files can be seeked by their key frames; a stream has no end to index them at.
        EXPECT_EQ(webm.cues, options.find('>') == std::string::npos ? keys : 0);
        ASSERT_EQ(times.size(), kFrames);
        for (std::uint32_t f = 0; f < kFrames; ++f)
            EXPECT_EQ(times[f], std::lround(f * kPeriodMs)) << "frame " << f;
        const std::vector<Bytes> pictures = DecodeVideo(webm.frames);
        ASSERT_EQ(pictures.size(), kFrames);
        for (std::uint32_t f = 0; f < kFrames; ++f) {
            const Bytes exact(reference.begin() + std::ptrdiff_t(f * frameBytes),
                              reference.begin() + std::ptrdiff_t((f + 1) * frameBytes));
            int worst = 0;
            const double psnr = PsnrDb(exact, pictures[f], &worst);
            EXPECT_GE(psnr, c.psnrFloor) << "frame " << f;
            EXPECT_LE(worst, c.worstLimit) << "frame " << f;
        }
        for (const auto& [number, track] : webm.tracks) {
            if (number == 1) continue;
            const int n = track.name == "track 1" ? 1 : 4;
            EXPECT_EQ(track.name, "track " + std::to_string(n));
            EXPECT_EQ(track.codec, "A_OPUS");
            EXPECT_EQ(track.channels, n == 1 ? 2u : 1u);
            const std::vector<float> want =
                Reference(ReadFileBytes(Path("track" + std::to_string(n) + ".pcm")), n == 1,
                          n == 1 ? 2 : 1, n == 1 ? 22050 : 16000);
            const std::vector<float> got = DecodeAudio(track, webm.frames);
            // All of the sound, and at most the last packet's filling beyond it.
            EXPECT_GE(got.size(), want.size());
            EXPECT_LE(got.size(), want.size() + 48 * 40 * track.channels);
            EXPECT_GE(SnrDb(want, got), 15) << track.name;
        }
    }
}

// A movie cut short is salvaged: the WebM holds the whole frames and the sound their
// chunks carried, which runs ahead of the pictures, and says it is as long as the longer of
// them, not as long as the movie meant to be.
TEST_F(ZmbtoolWebm, SalvagedMovieGivesTheLengthOfItsWholeFramesAndTheirSound) {
    const std::string movie = WriteMovie();
    const Bytes bytes = ReadFileBytes(movie);
    std::ofstream(Path("cut.zmb"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size() * 2 / 3));
    ASSERT_EQ(RunTool("decode " + Path("cut.zmb") + " --pcm " + folder_.string()).status, 3);
    const double soundMs =
        std::max(1000.0 * double(ReadFileBytes(Path("track1.pcm")).size() / 4) / 22050,
                 1000.0 * double(ReadFileBytes(Path("track4.pcm")).size()) / 16000);
    const RunResult run = RunTool("decode " + Path("cut.zmb") + " --webm " + Path("cut.webm"));
    ASSERT_EQ(run.status, 3) << run.output;
    const std::size_t at = run.output.find("frames 0 to ");
    ASSERT_NE(at, std::string::npos) << run.output;
    const long whole = std::stol(run.output.substr(at + 12)) + 1;
    ASSERT_LT(whole, long{kFrames});
    Gather webm;
    ASSERT_TRUE(Parse(Path("cut.webm"), &webm));
    EXPECT_NEAR(webm.duration, std::max(soundMs, whole * kPeriodMs), 1e-6);
    EXPECT_EQ(DecodeVideo(webm.frames).size(), static_cast<std::size_t>(whole));
}

// An enlarged WebM is the enlarged pictures encoded: the doubled movie's shown height times
// the factor, each decoded frame close to the exact enlarged frame.
TEST_F(ZmbtoolWebm, ScaleEnlargesTheShownPictures) {
    const std::string movie = WriteMovie();
    constexpr std::uint32_t kScale = 3;
    const RunResult run = RunTool("decode " + movie + " --scale 3 --webm " + Path("big.webm") +
                                  " --rgb24 " + Path("big.rgb"));
    ASSERT_EQ(run.status, 0) << run.output;
    Gather webm;
    ASSERT_TRUE(Parse(Path("big.webm"), &webm));
    EXPECT_EQ(webm.tracks[1].width, kWidth * kScale);
    EXPECT_EQ(webm.tracks[1].height, kHeight * 2 * kScale);
    const Bytes reference = ReadFileBytes(Path("big.rgb"));
    const std::size_t frameBytes = std::size_t{kWidth} * kHeight * 2 * 3 * kScale * kScale;
    ASSERT_EQ(reference.size(), frameBytes * kFrames);
    const std::vector<Bytes> pictures = DecodeVideo(webm.frames);
    ASSERT_EQ(pictures.size(), kFrames);
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        const Bytes exact(reference.begin() + std::ptrdiff_t(f * frameBytes),
                          reference.begin() + std::ptrdiff_t((f + 1) * frameBytes));
        int worst = 0;
        ASSERT_EQ(pictures[f].size(), exact.size());
        EXPECT_GE(PsnrDb(exact, pictures[f], &worst), 26) << "frame " << f;
    }
}

}  // namespace
