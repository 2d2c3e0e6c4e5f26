#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "recording/DibBlock.h"

namespace korvex {

// The frame source through which the document, the playback loops and the overlays reach frames.
// Operations keep their fixed order; indices are 0-based, -1 means "none".
class ImageSource {
public:
    virtual ~ImageSource() = default;

    virtual int openFolder(const std::string& path, int subfoldersOnly) = 0;
    virtual DibBlock loadCurrent(std::size_t* outSize, int orderCheck) = 0;
    virtual int forward(int n) = 0;
    virtual int back(int n) = 0;
    virtual int first() = 0;
    virtual int last() = 0;
    virtual int next() = 0;
    virtual int previous() = 0;
    virtual int setCurrent(int i) = 0;
    virtual int findByOffset(std::uint32_t ms) = 0;
    virtual int currentIndex() const = 0;
    virtual int count() const = 0;
    virtual std::int32_t flagsAt(int i) const = 0;
    virtual std::int32_t currentFlags() const = 0;
    virtual std::int64_t timeAt(int i) const = 0;
    virtual std::int64_t currentTime() const = 0;
    virtual std::uint32_t offsetAt(int i) = 0;
    virtual int currentChannel() const = 0;
    virtual bool hasChannel(int c) const = 0;
    virtual int selectChannels(int c, int n, int* list) = 0;
    virtual int firstFrameOf(int c) const = 0;
    virtual int infoIndexOf(int i) const = 0;
    virtual int nearestOfChannelBackward(int c, int i) const = 0;
    virtual int nearestOfChannelForward(int c, int i) const = 0;
    virtual int indexOfInfoIndex(int k) const = 0;
    virtual std::string cameraTitle(int i) const = 0;
    virtual int defaultChannel() const = 0;
    virtual std::string pathAt(int i) const = 0;
};

}  // namespace korvex
