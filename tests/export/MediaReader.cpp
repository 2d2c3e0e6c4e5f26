#include "tests/export/MediaReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <memory>

namespace korvex::test {

namespace {

struct Input {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    int stream = -1;
    ~Input() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

bool openStream(const std::string& path, AVMediaType type, Input& in, std::string& error) {
    if (avformat_open_input(&in.format, path.c_str(), nullptr, nullptr) < 0) {
        error = "cannot open " + path;
        return false;
    }
    if (avformat_find_stream_info(in.format, nullptr) < 0) {
        error = "no stream information in " + path;
        return false;
    }
    const AVCodec* decoder = nullptr;
    in.stream = av_find_best_stream(in.format, type, -1, -1, &decoder, 0);
    if (in.stream < 0 || decoder == nullptr) {
        error = "no such stream in " + path;
        return false;
    }
    in.codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(in.codec, in.format->streams[in.stream]->codecpar);
    in.codec->pkt_timebase = in.format->streams[in.stream]->time_base;
    if (avcodec_open2(in.codec, decoder, nullptr) < 0) {
        error = "cannot open the decoder";
        return false;
    }
    return true;
}

// Feeds the stream's packets (then the end) and hands every decoded frame to `take`.
bool decodeAll(Input& in, const std::function<void(AVFrame*)>& take) {
    auto drain = [&] {
        for (;;) {
            const int rc = avcodec_receive_frame(in.codec, in.frame);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0)
                return false;
            take(in.frame);
            av_frame_unref(in.frame);
        }
    };
    while (av_read_frame(in.format, in.packet) >= 0) {
        if (in.packet->stream_index == in.stream) {
            if (avcodec_send_packet(in.codec, in.packet) < 0) {
                av_packet_unref(in.packet);
                return false;
            }
            if (!drain())
                return false;
        }
        av_packet_unref(in.packet);
    }
    avcodec_send_packet(in.codec, nullptr);
    return drain();
}

}  // namespace

bool readVideo(const std::string& path, VideoStreamInfo& info, std::string& error,
               const std::function<void(std::int64_t, const std::vector<std::uint8_t>&)>& picture) {
    info = VideoStreamInfo{};
    Input in;
    if (!openStream(path, AVMEDIA_TYPE_VIDEO, in, error))
        return false;
    const AVRational tb = in.format->streams[in.stream]->time_base;
    info.width = in.codec->width;
    info.height = in.codec->height;
    SwsContext* convert = nullptr;
    std::vector<std::uint8_t> rgb;
    const bool ok = decodeAll(in, [&](AVFrame* f) {
        const std::int64_t ts = f->best_effort_timestamp;
        const std::int64_t ms = av_rescale_q(ts, tb, AVRational{1, 1000});
        info.ptsMs.push_back(ms);
        if (!picture)
            return;
        convert = sws_getCachedContext(convert, f->width, f->height,
                                       static_cast<AVPixelFormat>(f->format), f->width, f->height,
                                       AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        rgb.assign(static_cast<std::size_t>(f->width) * f->height * 3, 0);
        std::uint8_t* planes[1] = {rgb.data()};
        int strides[1] = {f->width * 3};
        sws_scale(convert, f->data, f->linesize, 0, f->height, planes, strides);
        picture(ms, rgb);
    });
    sws_freeContext(convert);
    if (!ok)
        error = "the video does not decode";
    return ok;
}

bool readSound(const std::string& path, std::vector<float>& mono, int& sampleRate,
               std::string& error) {
    mono.clear();
    Input in;
    if (!openStream(path, AVMEDIA_TYPE_AUDIO, in, error))
        return false;
    sampleRate = in.codec->sample_rate;
    const int channels = in.codec->ch_layout.nb_channels;
    const bool ok = decodeAll(in, [&](AVFrame* f) {
        // The coder's output is planar floats.
        for (int i = 0; i < f->nb_samples; ++i) {
            float sum = 0;
            for (int c = 0; c < channels; ++c)
                sum += reinterpret_cast<const float*>(f->extended_data[c])[i];
            mono.push_back(sum / static_cast<float>(channels));
        }
    });
    if (!ok)
        error = "the sound does not decode";
    return ok;
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    if (mse == 0)
        return 99;
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace korvex::test
