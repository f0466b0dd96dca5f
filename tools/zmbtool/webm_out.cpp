// SPDX-License-Identifier: MIT
// zmbtool decode's WebM, through libvpx, libopus and libsamplerate. The Matroska framing is
// written here: it is a few elements, and Debian's libwebm ships no muxer headers.
#include "webm_out.h"

#include <opus/opus.h>
#include <samplerate.h>
#include <vpx/vp8cx.h>
#include <vpx/vpx_encoder.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>
#include <cstring>

#include "core/movie_names.h"
#include "yuv.h"

#ifndef ZMBTOOL_VERSION
#define ZMBTOOL_VERSION "unknown"
#endif

namespace zmbtool {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Element IDs, their marker bits included.
enum : std::uint32_t {
    kEbml = 0x1A45DFA3,
    kEbmlVersion = 0x4286,
    kEbmlReadVersion = 0x42F7,
    kEbmlMaxIdLength = 0x42F2,
    kEbmlMaxSizeLength = 0x42F3,
    kDocType = 0x4282,
    kDocTypeVersion = 0x4287,
    kDocTypeReadVersion = 0x4285,
    kSegment = 0x18538067,
    kInfo = 0x1549A966,
    kTimecodeScale = 0x2AD7B1,
    kDuration = 0x4489,
    kMuxingApp = 0x4D80,
    kWritingApp = 0x5741,
    kTracks = 0x1654AE6B,
    kTrackEntry = 0xAE,
    kTrackNumber = 0xD7,
    kTrackUid = 0x73C5,
    kTrackType = 0x83,
    kFlagDefault = 0x88,
    kFlagLacing = 0x9C,
    kName = 0x536E,
    kCodecId = 0x86,
    kCodecPrivate = 0x63A2,
    kCodecDelay = 0x56AA,
    kSeekPreRoll = 0x56BB,
    kVideo = 0xE0,
    kPixelWidth = 0xB0,
    kPixelHeight = 0xBA,
    kColour = 0x55B0,
    kMatrixCoefficients = 0x55B1,
    kChromaSitingHorz = 0x55B7,
    kChromaSitingVert = 0x55B8,
    kRange = 0x55B9,
    kAudio = 0xE1,
    kSamplingFrequency = 0xB5,
    kChannels = 0x9F,
    kVoid = 0xEC,
    kSeekHead = 0x114D9B74,
    kSeek = 0x4DBB,
    kSeekId = 0x53AB,
    kSeekPosition = 0x53AC,
    kCues = 0x1C53BB6B,
    kCuePoint = 0xBB,
    kCueTime = 0xB3,
    kCueTrackPositions = 0xB7,
    kCueTrack = 0xF7,
    kCueClusterPosition = 0xF1,
    kCluster = 0x1F43B675,
    kTimecode = 0xE7,
    kSimpleBlock = 0xA3,
};

// Block times are in milliseconds; a period is in 1/100 ms.
constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kPeriodPerMs = 100;
// A cluster's blocks are timed by a 16-bit offset from it; clusters this long also keep
// a player's seeking cheap.
constexpr std::int64_t kLongestClusterMs = 5000;
constexpr int kOpusRate = 48000;
constexpr int kOpusLowestRate = 8000;
// Below this, 4:2:0 has visibly smeared the colours of palette pictures' edges.
constexpr double kLeastChromaPsnr = 30;
// The most libsamplerate changes a rate by, either way.
constexpr std::uint64_t kMostResampling = 256;
constexpr int kOpusFrameMs = 20;
constexpr std::uint64_t kSeekPreRollNs = 80 * kNsPerMs;
// A Segment of unknown size, for streams; files get the real one when they are complete.
constexpr std::uint64_t kUnknownSize = 0x01FFFFFFFFFFFFFF;
// Room kept at a file's start for the index of its parts (three entries of 42 bytes and
// the index's own 12), which can only be written once the cues at the end are.
constexpr std::size_t kSeekHeadRoom = 160;

void PutId(Bytes& b, std::uint32_t id) {
    int bytes = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
    while (bytes-- > 0) b.push_back(static_cast<std::uint8_t>(id >> (bytes * 8)));
}

// Sizes are written in 8 bytes, which fits everything and leaves room to rewrite them.
void PutSize8(Bytes& b, std::uint64_t size) {
    b.push_back(0x01);
    for (int i = 6; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(size >> (i * 8)));
}

void PutBinary(Bytes& b, std::uint32_t id, const void* data, std::size_t size) {
    PutId(b, id);
    PutSize8(b, size);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    b.insert(b.end(), bytes, bytes + size);
}

void PutMaster(Bytes& b, std::uint32_t id, const Bytes& body) {
    PutBinary(b, id, body.data(), body.size());
}

void PutUint(Bytes& b, std::uint32_t id, std::uint64_t value) {
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> ((7 - i) * 8));
    PutBinary(b, id, bytes, 8);
}

void PutString(Bytes& b, std::uint32_t id, const std::string& text) {
    PutBinary(b, id, text.data(), text.size());
}

// Filler of TOTAL bytes, its ID and size included (at least 9).
void PutVoid(Bytes& b, std::size_t total) {
    PutId(b, kVoid);
    PutSize8(b, total - 9);
    b.insert(b.end(), total - 9, 0);
}

void PutFloat(Bytes& b, std::uint32_t id, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    PutUint(b, id, bits);
}

Bytes EbmlHeader() {
    Bytes body, b;
    PutUint(body, kEbmlVersion, 1);
    PutUint(body, kEbmlReadVersion, 1);
    PutUint(body, kEbmlMaxIdLength, 4);
    PutUint(body, kEbmlMaxSizeLength, 8);
    PutString(body, kDocType, "webm");
    PutUint(body, kDocTypeVersion, 4);
    PutUint(body, kDocTypeReadVersion, 2);
    PutMaster(b, kEbml, body);
    return b;
}

bool IsOpusRate(std::uint32_t rate) {
    return rate == 8000 || rate == 12000 || rate == 16000 || rate == 24000 || rate == 48000;
}

float SampleOf(const std::uint8_t* at, bool sixteen) {
    if (!sixteen) return static_cast<float>(at[0] - 128) / 128.0f;
    const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | at[1] << 8));
    return static_cast<float>(v) / 32768.0f;
}

}  // namespace

struct WebmWriter::Video {
    vpx_codec_ctx_t codec{};
    bool initialised = false;
    vpx_image_t* image = nullptr;
    ~Video() {
        if (image != nullptr) vpx_img_free(image);
        if (initialised) vpx_codec_destroy(&codec);
    }
    std::string Error() {
        const char* detail = vpx_codec_error_detail(&codec);
        return std::string(vpx_codec_error(&codec)) + (detail ? std::string(": ") + detail : "");
    }
};

// One Opus track: the movie's samples, resampled where Opus cannot take their rate, cut
// into 20 ms packets.
struct WebmWriter::Audio {
    int track = 0;
    std::uint64_t number = 0;  // its WebM track number
    int channels = 1;
    bool sixteen = false;
    std::uint32_t rate = 0;     // the movie's
    int codingRate = 0;         // what Opus is given
    int kbps = 0;               // 0: the default for its channels
    std::uint64_t samples = 0;  // a channel's samples given, at the movie's rate
    int lookahead = 0;          // in samples at codingRate
    OpusEncoder* encoder = nullptr;
    SRC_STATE* resampler = nullptr;
    std::vector<float> waiting, ready;  // interleaved, at the movie's rate and at codingRate
    std::uint64_t packets = 0;
    ~Audio() {
        if (encoder != nullptr) opus_encoder_destroy(encoder);
        if (resampler != nullptr) src_delete(resampler);
    }
    int FrameSize() const { return codingRate / (1000 / kOpusFrameMs); }
    std::string Name() const { return "track " + std::to_string(track); }
    bool Open(std::string* error);
    bool Resample(bool end, std::string* error);
    Bytes Head() const;
    Bytes Entry() const;  // its Tracks entry
};

bool WebmWriter::Audio::Open(std::string* error) {
    codingRate = IsOpusRate(rate) ? static_cast<int>(rate) : kOpusRate;
    // The resampler changes a rate by 256 times at most: a track too slow for that is coded
    // at Opus's lowest rate, and one too slow even for that cannot be coded.
    if (std::uint64_t{rate} * kMostResampling < std::uint64_t(codingRate))
        codingRate = kOpusLowestRate;
    if (std::uint64_t{rate} * kMostResampling < std::uint64_t(codingRate) ||
        rate > std::uint64_t(codingRate) * kMostResampling) {
        *error = Name() + " plays at " + std::to_string(rate) +
                 " Hz, which Opus cannot be given (it takes " +
                 std::to_string((kOpusLowestRate + kMostResampling - 1) / kMostResampling) +
                 " to " + std::to_string(std::uint64_t{kOpusRate} * kMostResampling) + " Hz)";
        return false;
    }
    int status = OPUS_OK;
    encoder = opus_encoder_create(codingRate, channels, OPUS_APPLICATION_AUDIO, &status);
    if (status != OPUS_OK) {
        *error = Name() + ": " + opus_strerror(status);
        return false;
    }
    const int bitrate = kbps != 0 ? kbps : channels == 2 ? 128 : 96;
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(bitrate * 1000));
    opus_encoder_ctl(encoder, OPUS_GET_LOOKAHEAD(&lookahead));
    if (codingRate != static_cast<int>(rate)) {
        resampler = src_new(SRC_SINC_MEDIUM_QUALITY, channels, &status);
        if (resampler == nullptr) {
            *error = Name() + ": " + src_strerror(status);
            return false;
        }
    }
    return true;
}

bool WebmWriter::Audio::Resample(bool end, std::string* error) {
    if (resampler == nullptr) {
        ready.insert(ready.end(), waiting.begin(), waiting.end());
        waiting.clear();
        return true;
    }
    const double ratio = static_cast<double>(codingRate) / rate;
    std::vector<float> out(4096 * static_cast<std::size_t>(channels));
    std::size_t used = 0;
    for (;;) {
        SRC_DATA data{};
        data.data_in = waiting.data() + used * channels;
        data.input_frames = static_cast<long>(waiting.size() / channels - used);
        data.data_out = out.data();
        data.output_frames = 4096;
        data.src_ratio = ratio;
        data.end_of_input = end ? 1 : 0;
        if (const int status = src_process(resampler, &data); status != 0) {
            *error = Name() + ": " + src_strerror(status);
            return false;
        }
        used += static_cast<std::size_t>(data.input_frames_used);
        ready.insert(ready.end(), out.begin(), out.begin() + data.output_frames_gen * channels);
        if (data.output_frames_gen == 0 && data.input_frames_used == 0) break;
    }
    waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(used * channels));
    return true;
}

// The Opus identification header WebM carries as the track's codec data.
Bytes WebmWriter::Audio::Head() const {
    const std::uint32_t preSkip = static_cast<std::uint32_t>(lookahead) * kOpusRate / codingRate;
    Bytes head = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, static_cast<std::uint8_t>(channels)};
    head.push_back(static_cast<std::uint8_t>(preSkip & 0xFF));
    head.push_back(static_cast<std::uint8_t>(preSkip >> 8));
    for (int i = 0; i < 4; ++i) head.push_back(static_cast<std::uint8_t>(rate >> (i * 8)));
    head.insert(head.end(), {0, 0, 0});  // no gain, one stream of mono or stereo
    return head;
}

WebmWriter::WebmWriter() = default;
WebmWriter::~WebmWriter() = default;

bool WebmWriter::Fail(const std::string& reason) {
    if (!failure_.empty()) return false;
    // A failed write already has its name and the system's reason.
    failure_ = reason.empty() ? out_.Failure() : "cannot write " + out_.Name() + ": " + reason;
    return false;
}

bool WebmWriter::OpenVideo(std::uint32_t width, std::uint32_t height, std::string* error) {
    const bool chroma444 = request_.lossless || request_.chroma444;
    if (!chroma444 && (width % 2 != 0 || height % 2 != 0)) {
        *error = "4:2:0 video needs an even size, not " + std::to_string(width) + "x" +
                 std::to_string(height) + " (use --chroma 444)";
        return false;
    }
    video_ = std::make_unique<Video>();
    vpx_codec_enc_cfg_t config;
    vpx_codec_enc_config_default(vpx_codec_vp9_cx(), &config, 0);
    config.g_w = width, config.g_h = height;
    // Times in the movie's own unit, so every frame's time and length are exact.
    config.g_timebase = {1, 100000};
    config.g_profile = chroma444 ? 1 : 0;
    config.g_threads = 2;
    config.rc_end_usage = VPX_Q;
    config.rc_min_quantizer = 0, config.rc_max_quantizer = 63;
    // A key frame every 5 seconds or so, for seeking.
    config.kf_max_dist =
        static_cast<unsigned>(std::clamp<std::uint64_t>(500000 / period_, 1, 9999));
    if (vpx_codec_enc_init(&video_->codec, vpx_codec_vp9_cx(), &config, 0) != VPX_CODEC_OK) {
        *error = video_->Error();
        return false;
    }
    video_->initialised = true;
    vpx_codec_control(&video_->codec, VP8E_SET_CQ_LEVEL, request_.quality);
    vpx_codec_control(&video_->codec, VP8E_SET_CPUUSED, 4);
    vpx_codec_control(&video_->codec, VP9E_SET_ROW_MT, 1);
    vpx_codec_control(&video_->codec, VP9E_SET_LOSSLESS, request_.lossless ? 1 : 0);
    vpx_codec_control(&video_->codec, VP9E_SET_COLOR_SPACE, VPX_CS_BT_601);
    vpx_codec_control(&video_->codec, VP9E_SET_COLOR_RANGE, VPX_CR_STUDIO_RANGE);
    video_->image =
        vpx_img_alloc(nullptr, chroma444 ? VPX_IMG_FMT_I444 : VPX_IMG_FMT_I420, width, height, 16);
    if (video_->image == nullptr) *error = "out of memory";
    return video_->image != nullptr;
}

// Names the --tracks that leave track N out of the WebM.
void WebmWriter::SuggestTracks(int n, std::string* error) const {
    std::string others;
    for (int t = 0; t < ZAMB_TRACK_COUNT; ++t)
        if (t != n && request_.tracks & (1u << t))
            others += (others.empty() ? "" : ",") + std::to_string(t);
    *error += "; leave it out with --tracks " + (others.empty() ? "none" : others);
}

bool WebmWriter::OpenAudio(std::string* error) {
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!(request_.tracks & (1u << n))) continue;
        auto audio = std::make_unique<Audio>();
        const std::uint32_t format = request_.trackFormat[n];
        audio->track = n;
        audio->number = audio_.size() + 2;
        audio->channels = format & TRACK_STEREO ? 2 : 1;
        audio->sixteen = format & TRACK_16BIT;
        audio->rate = format & TRACK_RATE_MASK;
        audio->kbps = request_.audioKbps;
        if (!audio->Open(error)) return SuggestTracks(n, error), false;
        audio_.push_back(std::move(audio));
    }
    return true;
}

namespace {

Bytes VideoEntry(std::uint32_t width, std::uint32_t height) {
    Bytes colour, video, entry;
    PutUint(colour, kMatrixCoefficients, 6);  // BT.601
    PutUint(colour, kRange, 1);               // limited
    PutUint(colour, kChromaSitingHorz, 2);    // between the pixels it covers
    PutUint(colour, kChromaSitingVert, 2);
    PutUint(video, kPixelWidth, width);
    PutUint(video, kPixelHeight, height);
    PutMaster(video, kColour, colour);
    PutUint(entry, kTrackNumber, 1);
    PutUint(entry, kTrackUid, 1);
    PutUint(entry, kTrackType, 1);
    PutUint(entry, kFlagLacing, 0);
    PutString(entry, kCodecId, "V_VP9");
    PutMaster(entry, kVideo, video);
    return entry;
}

}  // namespace

Bytes WebmWriter::Audio::Entry() const {
    Bytes entry, sound;
    PutUint(entry, kTrackNumber, number);
    PutUint(entry, kTrackUid, number);
    PutUint(entry, kTrackType, 2);
    PutUint(entry, kFlagDefault, number == 2 ? 1 : 0);
    PutUint(entry, kFlagLacing, 0);
    PutString(entry, kName, Name());
    PutString(entry, kCodecId, "A_OPUS");
    const Bytes head = Head();
    PutBinary(entry, kCodecPrivate, head.data(), head.size());
    PutUint(entry, kCodecDelay, std::uint64_t(lookahead) * 1000000000 / std::uint64_t(codingRate));
    PutUint(entry, kSeekPreRoll, kSeekPreRollNs);
    PutFloat(sound, kSamplingFrequency, kOpusRate);
    PutUint(sound, kChannels, static_cast<std::uint64_t>(channels));
    PutMaster(entry, kAudio, sound);
    return entry;
}

// Everything before the first cluster, noting where the parts a file rewrites at its end
// lie.
Bytes WebmWriter::Header(std::uint32_t width, std::uint32_t height) {
    Bytes info, tracks, head = EbmlHeader();
    PutUint(info, kTimecodeScale, kNsPerMs);
    // The duration's bytes follow its ID and size.
    const std::size_t durationInInfo = info.size() + 2 + 8;
    PutFloat(info, kDuration, double(request_.plannedFrames * period_) / kPeriodPerMs);
    PutString(info, kMuxingApp, "zmbtool");
    PutString(info, kWritingApp, "zmbtool " ZMBTOOL_VERSION);
    PutMaster(tracks, kTrackEntry, VideoEntry(width, height));
    for (const auto& audio : audio_) PutMaster(tracks, kTrackEntry, audio->Entry());
    PutId(head, kSegment);
    PutSize8(head, kUnknownSize);
    segmentStart_ = head.size();
    seekHeadAt_ = head.size();
    PutVoid(head, kSeekHeadRoom);
    infoAt_ = head.size() - segmentStart_;
    durationAt_ = head.size() + 12 + durationInInfo;
    PutMaster(head, kInfo, info);
    tracksAt_ = head.size() - segmentStart_;
    PutMaster(head, kTracks, tracks);
    return head;
}

bool WebmWriter::Open(const WebmRequest& request, std::uint32_t width, std::uint32_t height,
                      std::uint64_t period, std::string* error) {
    request_ = request;
    period_ = period;
    width *= request.scale, height *= request.scale;
    std::string reason;
    if (!OpenVideo(width, height, &reason) || !OpenAudio(&reason)) {
        *error = "cannot write " + request.path + ": " + reason;
        return false;
    }
    if (!out_.Open(request.path, error)) return false;
    const Bytes head = Header(width, height);
    written_ = head.size();
    return out_.Write(head.data(), head.size());
}

bool WebmWriter::Queue(std::uint64_t track, std::int64_t ms, bool key, const void* data,
                       std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    pending_.emplace(ms, Block{track, key, Bytes(bytes, bytes + size)});
    return true;
}

bool WebmWriter::WriteCluster() {
    if (cluster_.empty()) return true;
    Bytes b;
    PutId(b, kCluster);
    Bytes timecode;
    PutUint(timecode, kTimecode, static_cast<std::uint64_t>(clusterMs_));
    PutSize8(b, timecode.size() + cluster_.size());
    b.insert(b.end(), timecode.begin(), timecode.end());
    b.insert(b.end(), cluster_.begin(), cluster_.end());
    cluster_.clear();
    written_ += b.size();
    return out_.Write(b.data(), b.size()) || Fail("");
}

// Blocks go out in time order across the tracks; a block is written once every track has
// delivered up to its time (or with ALL, at the end).
bool WebmWriter::Flush(bool all) {
    std::int64_t safe = INT64_MAX;
    if (!all) {
        for (const auto& audio : audio_)
            safe = std::min<std::int64_t>(
                safe, static_cast<std::int64_t>(audio->packets) * kOpusFrameMs - 1);
        safe = std::min(safe, videoMs_);
    }
    while (!pending_.empty() && pending_.begin()->first <= safe) {
        auto node = pending_.extract(pending_.begin());
        const std::int64_t ms = node.key();
        const Block& block = node.mapped();
        const bool startsCluster = clusterMs_ < 0 || (block.key && block.track == 1) ||
                                   ms - clusterMs_ >= kLongestClusterMs;
        if (startsCluster && !cluster_.empty() && !WriteCluster()) return false;
        if (cluster_.empty()) clusterMs_ = ms;
        // The open cluster goes out where the file now ends.
        if (block.key && block.track == 1) cues_.push_back({ms, written_ - segmentStart_});
        Bytes header = {static_cast<std::uint8_t>(0x80 | block.track)};
        const auto offset = static_cast<std::uint16_t>(static_cast<std::int16_t>(ms - clusterMs_));
        header.push_back(static_cast<std::uint8_t>(offset >> 8));
        header.push_back(static_cast<std::uint8_t>(offset & 0xFF));
        header.push_back(block.key ? 0x80 : 0x00);
        PutId(cluster_, kSimpleBlock);
        PutSize8(cluster_, header.size() + block.data.size());
        cluster_.insert(cluster_.end(), header.begin(), header.end());
        cluster_.insert(cluster_.end(), block.data.begin(), block.data.end());
    }
    return !all || WriteCluster();
}

// Queues the packets the encoder has ready. At the end (LAST) the encoder is asked for
// the frames it still holds until it gives no more: one call may give only some of them.
bool WebmWriter::DrainVideo(bool last) {
    for (;;) {
        if (last &&
            vpx_codec_encode(&video_->codec, nullptr, 0, 0, 0, VPX_DL_GOOD_QUALITY) != VPX_CODEC_OK)
            return Fail(video_->Error());
        bool got = false;
        vpx_codec_iter_t iterator = nullptr;
        while (const vpx_codec_cx_pkt_t* packet =
                   vpx_codec_get_cx_data(&video_->codec, &iterator)) {
            if (packet->kind != VPX_CODEC_CX_FRAME_PKT) continue;
            const auto pts = static_cast<std::uint64_t>(packet->data.frame.pts);
            videoMs_ = static_cast<std::int64_t>((pts + kPeriodPerMs / 2) / kPeriodPerMs);
            Queue(1, videoMs_, packet->data.frame.flags & VPX_FRAME_IS_KEY, packet->data.frame.buf,
                  packet->data.frame.sz);
            ++videoPackets_, got = true;
        }
        if (!last || !got) return true;
    }
}

bool WebmWriter::EncodeReady(Audio& audio) {
    const std::size_t frame = static_cast<std::size_t>(audio.FrameSize() * audio.channels);
    std::size_t at = 0;
    for (; at + frame <= audio.ready.size(); at += frame) {
        unsigned char packet[4000];
        const int size = opus_encode_float(audio.encoder, audio.ready.data() + at,
                                           audio.FrameSize(), packet, sizeof packet);
        if (size < 0) return Fail(audio.Name() + ": " + opus_strerror(size));
        Queue(audio.number, static_cast<std::int64_t>(audio.packets++) * kOpusFrameMs, true, packet,
              static_cast<std::size_t>(size));
    }
    audio.ready.erase(audio.ready.begin(), audio.ready.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool WebmWriter::AddSound(int n, const std::uint8_t* bytes, std::size_t count) {
    for (const auto& audio : audio_) {
        if (audio->track != n) continue;
        const std::size_t width = audio->sixteen ? 2 : 1;
        for (std::size_t at = 0; at + width <= count; at += width)
            audio->waiting.push_back(SampleOf(bytes + at, audio->sixteen));
        audio->samples += count / width / static_cast<std::size_t>(audio->channels);
        std::string error;
        if (!audio->Resample(false, &error)) return Fail(error);
        if (!EncodeReady(*audio)) return false;
    }
    return failure_.empty();
}

bool WebmWriter::AddFrame(const IndexedFrame& decoded) {
    if (!failure_.empty()) return false;
    // Enlarged before the colour conversion, as the Y4M output does, so that both give the
    // same planes.
    IndexedFrame frame = decoded;
    if (request_.scale > 1) {
        Enlarge(decoded.top, decoded.pitch, decoded.width, decoded.height, 1, request_.scale,
                &enlarged_);
        frame.width *= request_.scale, frame.height *= request_.scale;
        frame.top = enlarged_.data(), frame.pitch = std::ptrdiff_t(frame.width);
    }
    vpx_image_t* image = video_->image;
    YuvPlanes planes;
    planes.y = image->planes[VPX_PLANE_Y];
    planes.cb = image->planes[VPX_PLANE_U];
    planes.cr = image->planes[VPX_PLANE_V];
    planes.yPitch = image->stride[VPX_PLANE_Y];
    planes.chromaPitch = image->stride[VPX_PLANE_U];
    FrameToYuv(frame, image->fmt == VPX_IMG_FMT_I444, planes);
    if (image->fmt != VPX_IMG_FMT_I444) {
        chromaLoss_ += ChromaLoss420(frame, planes);
        chromaSamples_ += 3.0 * frame.width * frame.height;
    }
    const auto pts = static_cast<vpx_codec_pts_t>(frames_++ * period_);
    if (vpx_codec_encode(&video_->codec, image, pts, period_, 0, VPX_DL_GOOD_QUALITY) !=
        VPX_CODEC_OK)
        return Fail(video_->Error());
    return DrainVideo(false) && Flush(false);
}

namespace {

std::array<std::uint8_t, 8> BigEndian(std::uint64_t value) {
    std::array<std::uint8_t, 8> bytes;
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> ((7 - i) * 8));
    return bytes;
}

}  // namespace

// A file gets what a stream cannot have: the key frames' cues for seeking, the index of
// the file's parts at its start, its real size and its real length.
bool WebmWriter::FinishFile() {
    Bytes points, tail, index, seekHead;
    for (const Cue& cue : cues_) {
        Bytes point, positions;
        PutUint(positions, kCueTrack, 1);
        PutUint(positions, kCueClusterPosition, cue.position);
        PutUint(point, kCueTime, static_cast<std::uint64_t>(cue.ms));
        PutMaster(point, kCueTrackPositions, positions);
        PutMaster(points, kCuePoint, point);
    }
    const std::uint64_t cuesAt = written_ - segmentStart_;
    if (!cues_.empty()) PutMaster(tail, kCues, points);
    if (!out_.Write(tail.data(), tail.size())) return Fail("");
    written_ += tail.size();
    const std::pair<std::uint32_t, std::uint64_t> parts[] = {
        {kInfo, infoAt_}, {kTracks, tracksAt_}, {kCues, cuesAt}};
    for (const auto& [id, at] : parts) {
        if (id == kCues && cues_.empty()) continue;
        Bytes seek, name;
        PutId(name, id);
        PutBinary(seek, kSeekId, name.data(), name.size());
        PutUint(seek, kSeekPosition, at);
        PutMaster(index, kSeek, seek);
    }
    PutMaster(seekHead, kSeekHead, index);
    PutVoid(seekHead, kSeekHeadRoom - seekHead.size());
    // The sound may run on past the last picture (a salvaged movie keeps what its chunks
    // held): the file lasts as long as whichever is longer.
    double ms = double(frames_ * period_) / kPeriodPerMs;
    for (const auto& audio : audio_)
        ms = std::max(ms, 1000.0 * double(audio->samples) / audio->rate);
    std::uint64_t bits;
    std::memcpy(&bits, &ms, 8);
    const auto size = BigEndian((written_ - segmentStart_) | (std::uint64_t{1} << 56));
    const auto duration = BigEndian(bits);
    return (out_.Overwrite(seekHeadAt_, seekHead.data(), seekHead.size()) &&
            out_.Overwrite(segmentStart_ - 8, size.data(), 8) &&
            out_.Overwrite(durationAt_, duration.data(), 8)) ||
           Fail("");
}

// The decoder drops the encoder's lookahead from the start, so as much silence at the end
// lets the last real samples through; the last packet is filled with silence.
bool WebmWriter::FinishAudio(Audio& audio) {
    std::string reason;
    if (!audio.Resample(true, &reason)) return Fail(reason);
    audio.ready.insert(audio.ready.end(),
                       static_cast<std::size_t>(audio.lookahead * audio.channels), 0.0f);
    const std::size_t frame = static_cast<std::size_t>(audio.FrameSize() * audio.channels);
    audio.ready.resize((audio.ready.size() + frame - 1) / frame * frame, 0.0f);
    return EncodeReady(audio);
}

// Small, busy palette pictures lose much of their colour to 4:2:0: said, with the way out,
// rather than chosen for the caller, whose players may take 4:2:0 only.
void WebmWriter::NoteChromaLoss() const {
    if (chromaSamples_ == 0) return;
    const double psnr =
        10 * std::log10(255.0 * 255.0 * chromaSamples_ / std::max(chromaLoss_, 1e-9));
    if (psnr >= kLeastChromaPsnr) return;
    std::fprintf(stderr,
                 "zmbtool: note: %s: 4:2:0 colour alone keeps these pictures to %.1f dB "
                 "(below %.0f); --chroma 444 or --scale 2 avoids that loss\n",
                 out_.Name().c_str(), psnr, kLeastChromaPsnr);
}

bool WebmWriter::Commit(std::string* error) {
    if (!out_.IsOpen()) return true;
    bool ok = failure_.empty() && (frames_ > 0 || Fail("no frame was played")) && DrainVideo(true);
    // A frame the encoder kept back would shorten the video unseen.
    ok = ok && (videoPackets_ == frames_ ||
                Fail("the video encoder gave " + std::to_string(videoPackets_) + " of " +
                     std::to_string(frames_) + " frames"));
    for (const auto& audio : audio_) ok = ok && FinishAudio(*audio);
    ok = ok && Flush(true);
    ok = ok && (out_.IsStream() || FinishFile());
    if (!ok) {
        *error = failure_;
        out_.Discard();
        return false;
    }
    NoteChromaLoss();
    return out_.Commit(error);
}

}  // namespace zmbtool
