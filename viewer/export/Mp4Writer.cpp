#include "viewer/export/Mp4Writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <vector>

namespace korvex {

namespace {

constexpr int kMinSide = 16;
constexpr int kMaxSide = 4096;

std::string averrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

}  // namespace

std::string videoCoderText(const EncoderSettings& s) {
    return "H.264 (libx264), preset " + s.preset + ", CRF " + std::to_string(s.crf) +
           ", yuv420p, key frame at least every " + std::to_string(s.keyFrameInterval) +
           " pictures";
}

void quietCoderMessages() {
    av_log_set_level(AV_LOG_ERROR);
}

int aacSampleRateFor(int inputRate) {
    // AAC's own rates; below 16 kHz some players' decoders refuse the stream.
    static constexpr int kRates[] = {16000, 22050, 24000, 32000, 44100, 48000};
    for (int rate = inputRate; rate > 0 && rate <= 48000; rate *= 2) {
        for (int aac : kRates) {
            if (rate == aac)
                return aac;
        }
    }
    return 48000;
}

void YuvPictureFree::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

PictureConverter::~PictureConverter() {
    sws_freeContext(scale_);
}

bool PictureConverter::open(int width, int height) {
    sws_freeContext(scale_);
    scale_ = nullptr;
    if (width < kMinSide || height < kMinSide || width > kMaxSide || height > kMaxSide ||
        width % 2 != 0 || height % 2 != 0) {
        return false;
    }
    width_ = width;
    height_ = height;
    // Bicubic, as the ffmpeg command line converts by default.
    scale_ = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P,
                            SWS_BICUBIC, nullptr, nullptr, nullptr);
    return scale_ != nullptr;
}

YuvPicture PictureConverter::convert(const std::uint8_t* bgr, std::ptrdiff_t stride) const {
    if (scale_ == nullptr || bgr == nullptr)
        return nullptr;
    YuvPicture yuv(av_frame_alloc());
    if (!yuv)
        return nullptr;
    yuv->format = AV_PIX_FMT_YUV420P;
    yuv->width = width_;
    yuv->height = height_;
    // What the conversion produces, so that players read the colours back alike.
    yuv->color_range = AVCOL_RANGE_MPEG;
    yuv->colorspace = AVCOL_SPC_SMPTE170M;
    if (av_frame_get_buffer(yuv.get(), 0) < 0)
        return nullptr;
    const std::uint8_t* const planes[1] = {bgr};
    const int strides[1] = {static_cast<int>(stride)};
    sws_scale(scale_, planes, strides, 0, height_, yuv->data, yuv->linesize);
    return yuv;
}

Mp4Writer::Mp4Writer() = default;

Mp4Writer::~Mp4Writer() {
    abort();
}

bool Mp4Writer::fail(const std::string& what, int averror) {
    error_ = averror != 0 ? what + ": " + averrorText(averror) : what;
    return false;
}

bool Mp4Writer::open(const std::string& path, int width, int height, const SoundInput* sound,
                     const EncoderSettings& settings) {
    abort();
    error_.clear();
    pictures_ = 0;
    if (width < kMinSide || height < kMinSide || width > kMaxSide || height > kMaxSide ||
        width % 2 != 0 || height % 2 != 0) {
        return fail("the picture size must be even, 16 to 4096 pixels a side", 0);
    }
    int rc = avformat_alloc_output_context2(&format_, nullptr, "mp4", path.c_str());
    if (rc < 0 || format_ == nullptr)
        return fail("cannot make an MP4 file", rc);
    packet_ = av_packet_alloc();
    if (packet_ == nullptr)
        return fail("out of memory", AVERROR(ENOMEM));
    if (!openVideo(width, height, settings))
        return false;
    if (sound != nullptr && !openSound(*sound, settings))
        return false;
    rc = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return fail("cannot create " + path, rc);
    AVDictionary* options = nullptr;
    // The index goes in front once the file is complete, so that it plays while it downloads.
    av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(format_, &options);
    av_dict_free(&options);
    if (rc < 0)
        return fail("cannot write the MP4 header", rc);
    headerWritten_ = true;
    return true;
}

bool Mp4Writer::openVideo(int width, int height, const EncoderSettings& settings) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr)
        return fail("this FFmpeg has no H.264 coder (libx264)", 0);
    video_ = avcodec_alloc_context3(codec);
    if (video_ == nullptr)
        return fail("out of memory", AVERROR(ENOMEM));
    width_ = width;
    height_ = height;
    video_->width = width;
    video_->height = height;
    video_->pix_fmt = AV_PIX_FMT_YUV420P;
    // Milliseconds: the pictures keep the times they have on the recording's clock.
    video_->time_base = AVRational{1, 1000};
    video_->framerate = AVRational{std::clamp(settings.nominalFps, 1, 1000), 1};
    video_->gop_size = std::max(1, settings.keyFrameInterval);
    video_->thread_count = std::max(0, settings.threads);
    // What the colour conversion below produces, so that players read the colours back alike.
    video_->color_range = AVCOL_RANGE_MPEG;
    video_->colorspace = AVCOL_SPC_SMPTE170M;
    video_->color_primaries = AVCOL_PRI_SMPTE170M;
    video_->color_trc = AVCOL_TRC_SMPTE170M;
    if ((format_->oformat->flags & AVFMT_GLOBALHEADER) != 0)
        video_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", settings.preset.c_str(), 0);
    av_dict_set(&options, "crf", std::to_string(settings.crf).c_str(), 0);
    int rc = avcodec_open2(video_, codec, &options);
    av_dict_free(&options);
    if (rc < 0)
        return fail("cannot open the H.264 coder", rc);

    videoStream_ = avformat_new_stream(format_, nullptr);
    if (videoStream_ == nullptr)
        return fail("out of memory", AVERROR(ENOMEM));
    videoStream_->time_base = video_->time_base;
    rc = avcodec_parameters_from_context(videoStream_->codecpar, video_);
    if (rc < 0)
        return fail("cannot describe the video stream", rc);

    if (!converter_.open(width, height))
        return fail("cannot set up the colour conversion", 0);
    return true;
}

void CodedPacketFree::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

SoundCoder::~SoundCoder() {
    close();
}

bool SoundCoder::fail(const std::string& what, int averror) {
    error_ = averror != 0 ? what + ": " + averrorText(averror) : what;
    return false;
}

bool SoundCoder::open(const SoundInput& sound, const EncoderSettings& settings, bool globalHeader) {
    close();
    error_.clear();
    if (sound.sampleRate < 1000 || sound.sampleRate > 192000 || sound.channels < 1 ||
        sound.channels > 2) {
        return fail("the sound must have 1 or 2 channels at 1 to 192 kHz", 0);
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr)
        return fail("this FFmpeg has no AAC coder", 0);
    audio_ = avcodec_alloc_context3(codec);
    if (audio_ == nullptr)
        return fail("out of memory", AVERROR(ENOMEM));
    inputChannels_ = sound.channels;
    const int rate = aacSampleRateFor(sound.sampleRate);
    audio_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio_->sample_rate = rate;
    av_channel_layout_default(&audio_->ch_layout, sound.channels);
    audio_->bit_rate = static_cast<std::int64_t>(settings.audioBitRatePerChannel) * sound.channels;
    audio_->time_base = AVRational{1, rate};
    if (globalHeader)
        audio_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(audio_, codec, nullptr);
    if (rc < 0)
        return fail("cannot open the AAC coder", rc);

    AVChannelLayout layout{};
    av_channel_layout_default(&layout, sound.channels);
    rc = swr_alloc_set_opts2(&resample_, &layout, AV_SAMPLE_FMT_FLTP, rate, &layout,
                             AV_SAMPLE_FMT_FLT, sound.sampleRate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (rc < 0 || resample_ == nullptr || (rc = swr_init(resample_)) < 0)
        return fail("cannot set up the sound resampling", rc);
    fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, sound.channels, 4 * audio_->frame_size);
    frame_ = av_frame_alloc();
    if (fifo_ == nullptr || frame_ == nullptr)
        return fail("out of memory", AVERROR(ENOMEM));
    return true;
}

void SoundCoder::close() {
    avcodec_free_context(&audio_);
    av_frame_free(&frame_);
    swr_free(&resample_);
    if (fifo_ != nullptr) {
        av_audio_fifo_free(fifo_);
        fifo_ = nullptr;
    }
    samplesSent_ = 0;
    inputChannels_ = 0;
}

bool SoundCoder::code(const float* samples, std::size_t frames, CodedPackets& out) {
    if (audio_ == nullptr)
        return fail("the sound coder is not open", 0);
    // Blocks of a bounded size: the caller may hand over any amount.
    constexpr std::size_t kBlock = 8192;
    std::vector<float> planes[2];
    while (frames > 0) {
        const int in = static_cast<int>(std::min(frames, kBlock));
        const int room = swr_get_out_samples(resample_, in);
        if (room < 0)
            return fail("the sound resampling failed", room);
        std::uint8_t* resampled[2] = {nullptr, nullptr};
        for (int c = 0; c < inputChannels_; ++c) {
            planes[c].resize(static_cast<std::size_t>(room) + 1);
            resampled[c] = reinterpret_cast<std::uint8_t*>(planes[c].data());
        }
        const auto* input = reinterpret_cast<const std::uint8_t*>(samples);
        const int got = swr_convert(resample_, resampled, room, &input, in);
        if (got < 0)
            return fail("the sound resampling failed", got);
        if (got > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(resampled), got) < got)
            return fail("out of memory", AVERROR(ENOMEM));
        samples += static_cast<std::size_t>(in) * static_cast<std::size_t>(inputChannels_);
        frames -= static_cast<std::size_t>(in);
        if (!codeFrames(false, out))
            return false;
    }
    return true;
}

bool SoundCoder::flush(CodedPackets& out) {
    if (audio_ == nullptr)
        return fail("the sound coder is not open", 0);
    const int room = swr_get_out_samples(resample_, 0);
    if (room > 0) {
        std::vector<float> planes[2];
        std::uint8_t* resampled[2] = {nullptr, nullptr};
        for (int c = 0; c < inputChannels_; ++c) {
            planes[c].resize(static_cast<std::size_t>(room));
            resampled[c] = reinterpret_cast<std::uint8_t*>(planes[c].data());
        }
        const int got = swr_convert(resample_, resampled, room, nullptr, 0);
        if (got > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(resampled), got) < got)
            return fail("out of memory", AVERROR(ENOMEM));
    }
    return codeFrames(true, out) && send(nullptr, out);
}

bool SoundCoder::codeFrames(bool flush, CodedPackets& out) {
    const int frameSize = audio_->frame_size > 0 ? audio_->frame_size : 1024;
    while (av_audio_fifo_size(fifo_) >= frameSize || (flush && av_audio_fifo_size(fifo_) > 0)) {
        const int n = std::min(frameSize, av_audio_fifo_size(fifo_));
        av_frame_unref(frame_);
        frame_->nb_samples = n;
        frame_->format = audio_->sample_fmt;
        frame_->sample_rate = audio_->sample_rate;
        int rc = av_channel_layout_copy(&frame_->ch_layout, &audio_->ch_layout);
        if (rc >= 0)
            rc = av_frame_get_buffer(frame_, 0);
        if (rc < 0)
            return fail("out of memory", rc);
        if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), n) < n)
            return fail("the sound buffer failed", 0);
        frame_->pts = samplesSent_;
        samplesSent_ += n;
        if (!send(frame_, out))
            return false;
    }
    return true;
}

bool SoundCoder::send(AVFrame* frame, CodedPackets& out) {
    int rc = avcodec_send_frame(audio_, frame);
    if (rc < 0)
        return fail("the AAC coder refused the sound", rc);
    for (;;) {
        CodedPacket packet(av_packet_alloc());
        if (!packet)
            return fail("out of memory", AVERROR(ENOMEM));
        rc = avcodec_receive_packet(audio_, packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return fail("the AAC coder failed", rc);
        out.push_back(std::move(packet));
    }
}

bool Mp4Writer::openSound(const SoundInput& sound, const EncoderSettings& settings) {
    if (!sound_.open(sound, settings, (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0))
        return fail(sound_.error(), 0);
    audioStream_ = avformat_new_stream(format_, nullptr);
    if (audioStream_ == nullptr)
        return fail("out of memory", AVERROR(ENOMEM));
    audioStream_->time_base = sound_.context()->time_base;
    const int rc = avcodec_parameters_from_context(audioStream_->codecpar, sound_.context());
    if (rc < 0)
        return fail("cannot describe the sound stream", rc);
    return true;
}

bool Mp4Writer::addPicture(const std::uint8_t* bgr, std::ptrdiff_t stride, std::int64_t ptsMs) {
    if (!headerWritten_)
        return fail("the file is not open", 0);
    YuvPicture yuv = converter_.convert(bgr, stride);
    if (!yuv)
        return fail("out of memory", AVERROR(ENOMEM));
    return addPicture(std::move(yuv), ptsMs);
}

bool Mp4Writer::addPicture(YuvPicture picture, std::int64_t ptsMs) {
    if (!headerWritten_)
        return fail("the file is not open", 0);
    if (!picture || picture->width != width_ || picture->height != height_ ||
        picture->format != AV_PIX_FMT_YUV420P) {
        return fail("a picture of another size or kind than the file's", 0);
    }
    if (ptsMs <= lastPts_)
        return fail("a picture's time does not follow the one before", 0);
    picture->pts = ptsMs;
    if (!shown_.empty())
        shown_.back().duration = ptsMs - lastPts_;
    shown_.push_back({ptsMs, -1});
    lastPts_ = ptsMs;
    ++pictures_;
    // The coder keeps a reference to the picture's buffers as long as it needs them.
    return sendVideo(picture.get()) && drainVideo(false);
}

bool Mp4Writer::sendVideo(AVFrame* frame) {
    int rc = avcodec_send_frame(video_, frame);
    if (rc < 0)
        return fail("the H.264 coder refused a picture", rc);
    for (;;) {
        rc = avcodec_receive_packet(video_, packet_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return fail("the H.264 coder failed", rc);
        AVPacket* held = av_packet_alloc();
        if (held == nullptr)
            return fail("out of memory", AVERROR(ENOMEM));
        av_packet_move_ref(held, packet_);
        pendingVideo_.push_back(held);
    }
}

bool Mp4Writer::drainVideo(bool final) {
    while (!pendingVideo_.empty()) {
        AVPacket* packet = pendingVideo_.front();
        const auto shown = std::find_if(shown_.begin(), shown_.end(),
                                        [packet](const Shown& s) { return s.pts == packet->pts; });
        if (shown != shown_.end() && shown->duration < 0 && !final)
            return true;  // its duration comes with the next picture
        if (shown != shown_.end()) {
            packet->duration = std::max<std::int64_t>(1, shown->duration);
            shown_.erase(shown);
        }
        pendingVideo_.pop_front();
        const bool written = writePacket(packet, video_, videoStream_);
        av_packet_free(&packet);
        if (!written)
            return false;
    }
    return true;
}

bool Mp4Writer::addSound(const float* samples, std::size_t frames) {
    if (!headerWritten_ || !sound_.isOpen())
        return fail("the file has no sound stream", 0);
    CodedPackets packets;
    if (!sound_.code(samples, frames, packets))
        return fail(sound_.error(), 0);
    return addSoundPackets(std::move(packets));
}

bool Mp4Writer::addSoundPackets(CodedPackets packets) {
    if (!headerWritten_ || !sound_.isOpen())
        return fail("the file has no sound stream", 0);
    for (CodedPacket& packet : packets) {
        if (!packet || !writePacket(packet.get(), sound_.context(), audioStream_))
            return false;
    }
    return true;
}

bool Mp4Writer::writePacket(AVPacket* packet, const AVCodecContext* codec, AVStream* stream) {
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    // The muxer keeps the two streams in step; it takes the packet's data.
    const int rc = av_interleaved_write_frame(format_, packet);
    if (rc < 0)
        return fail("cannot write the file", rc);
    return true;
}

bool Mp4Writer::finish(std::int64_t endMs) {
    if (!headerWritten_)
        return fail("the file is not open", 0);
    if (pictures_ == 0)
        return fail("no picture to write", 0);
    if (!shown_.empty() && shown_.back().duration < 0)
        shown_.back().duration = std::max<std::int64_t>(1, endMs - lastPts_);
    if (!sendVideo(nullptr) || !drainVideo(true))
        return false;
    if (sound_.isOpen()) {
        // What the resampler still holds, then the last short frame and the coder's delay.
        CodedPackets tail;
        if (!sound_.flush(tail))
            return fail(sound_.error(), 0);
        if (!addSoundPackets(std::move(tail)))
            return false;
    }
    int rc = av_write_trailer(format_);
    headerWritten_ = false;
    if (rc < 0) {
        release();
        return fail("cannot finish the file", rc);
    }
    const int ioError = format_->pb != nullptr ? format_->pb->error : 0;
    rc = avio_closep(&format_->pb);
    release();
    if (ioError < 0)
        return fail("cannot write the file", ioError);
    if (rc < 0)
        return fail("cannot write the file", rc);
    return true;
}

void Mp4Writer::abort() {
    headerWritten_ = false;
    release();
}

void Mp4Writer::release() {
    for (AVPacket* p : pendingVideo_)
        av_packet_free(&p);
    pendingVideo_.clear();
    shown_.clear();
    if (format_ != nullptr && format_->pb != nullptr)
        avio_closep(&format_->pb);
    avformat_free_context(format_);
    format_ = nullptr;
    avcodec_free_context(&video_);
    sound_.close();
    videoStream_ = nullptr;
    audioStream_ = nullptr;
    av_packet_free(&packet_);
    lastPts_ = -1;
}

}  // namespace korvex
