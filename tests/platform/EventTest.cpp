#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Worker.h"

namespace {

using platform::Event;

TEST(EventTest, ManualStaysSetAutoIsConsumedByOneWait) {
    Event manual(Event::Reset::Manual);
    Event automatic(Event::Reset::Auto);
    EXPECT_FALSE(manual.wait(0));
    EXPECT_FALSE(automatic.wait(0));
    manual.set();
    automatic.set();
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0));
    EXPECT_FALSE(automatic.isSet());
    manual.reset();
    EXPECT_FALSE(manual.wait(1));
}

TEST(EventTest, WaitAnyAnswersInListOrderAndConsumesOnlyTheOneItReports) {
    Event stop(Event::Reset::Manual);
    Event first(Event::Reset::Auto);
    Event second(Event::Reset::Auto);
    EXPECT_EQ(Event::waitAny({&stop, &first, &second}, 5), -1);
    second.set();
    first.set();
    EXPECT_EQ(Event::waitAny({&stop, nullptr, &first, &second}, 0), 2);
    EXPECT_EQ(Event::waitAny({&stop, &first, &second}, 0), 2);
    EXPECT_EQ(Event::waitAny({&stop, &first, &second}, 0), -1);
    stop.set();
    second.set();
    EXPECT_EQ(Event::waitAny({&stop, &second}, 0), 0);
    EXPECT_TRUE(second.isSet());
}

TEST(EventTest, SetFromAnotherThreadEndsAnUnboundedWait) {
    for (int round = 0; round < 50; ++round) {
        Event work(Event::Reset::Auto);
        Event stop(Event::Reset::Manual);
        std::thread setter([&] { (round % 2 ? stop : work).set(); });
        EXPECT_EQ(Event::waitAny({&stop, &work}, -1), round % 2 ? 0 : 1);
        setter.join();
    }
}

TEST(WorkerTest, StopEndsTheBodyAndTheWorkerCanStartAgain) {
    platform::Worker worker;
    std::atomic<int> runs{0};
    auto body = [&](Event& stop) {
        stop.wait(-1);
        ++runs;
    };
    ASSERT_TRUE(worker.start(body));
    EXPECT_FALSE(worker.start(body));  // still running
    EXPECT_FALSE(worker.waitEnded(1));
    worker.stop();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(worker.endNotice().isSet());
    ASSERT_TRUE(worker.start(body));
    EXPECT_TRUE(worker.running());
    worker.orderStop();
    EXPECT_TRUE(worker.waitEnded(-1));
    worker.stop();
    worker.stop();
    EXPECT_EQ(runs, 2);
}

TEST(WorkerTest, DestructorJoinsARunningWorker) {
    std::atomic<bool> ended{false};
    {
        platform::Worker worker;
        ASSERT_TRUE(worker.start([&](Event& stop) {
            while (!stop.wait(10)) {
            }
            ended = true;
        }));
    }
    EXPECT_TRUE(ended);
}

}  // namespace
