#include "platform/Worker.h"

#include <system_error>
#include <utility>

namespace platform {

bool Worker::start(Body body) {
    if (thread_.joinable()) {
        if (!ended_.isSet())
            return false;
        thread_.join();
    }
    stop_.reset();
    ended_.reset();
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            body(stop_);
            ended_.set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Worker::stop() {
    if (!thread_.joinable())
        return;
    stop_.set();
    ended_.wait(-1);
    thread_.join();
}

}  // namespace platform
