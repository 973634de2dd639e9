#include "platform/CJobQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

// The sweep's reader thread: reads run in order, each into a buffer the
// caller has released, and a failed read holds the later ones back.

namespace {

using namespace std::chrono_literals;

// Jobs that note the order they ran in and answer as told.
struct tagJobs {
    std::atomic<int> ran{0};
    std::vector<int> order = std::vector<int>(8, -1);
    std::function<bool()> job(int number, bool result = true) {
        return [this, number, result] {
            order[size_t(number)] = ran++;
            return result;
        };
    }
    // True when n jobs have run within a while.
    bool reaches(int n) {
        for (int k = 0; k < 200 && ran < n; ++k)
            std::this_thread::sleep_for(1ms);
        return ran >= n;
    }
};

TEST(JobQueue, JobsRunInOrderAndWaitForTheirBufferToBeReleased) {
    tagJobs jobs;
    CJobQueue queue(2);
    for (int n = 0; n < 4; ++n)
        queue.push(jobs.job(n));
    EXPECT_TRUE(jobs.reaches(2));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(jobs.ran, 2) << "job 2 ran before job 0 was released";
    EXPECT_TRUE(queue.take());
    queue.release(); // job 0's buffer is free: job 2 runs, job 3 waits for job 1's
    EXPECT_TRUE(jobs.reaches(3));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(jobs.ran, 3);
    EXPECT_TRUE(queue.take());
    queue.release();
    EXPECT_TRUE(queue.take());
    queue.release();
    EXPECT_TRUE(queue.take());
    queue.release();
    EXPECT_EQ(jobs.order, (std::vector<int>{0, 1, 2, 3, -1, -1, -1, -1}));
}

TEST(JobQueue, AFailedJobHoldsTheLaterOnesBackUntilItIsReleased) {
    tagJobs jobs;
    CJobQueue queue(2);
    queue.push(jobs.job(0, false));
    queue.push(jobs.job(1));
    EXPECT_FALSE(queue.take());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(jobs.ran, 1) << "a read went ahead of the failed one's second reading";
    queue.release();
    EXPECT_TRUE(queue.take());
    EXPECT_EQ(jobs.ran, 2);
    queue.release();
}

TEST(JobQueue, CancelDropsTheJobsNotStartedAndStartsAfresh) {
    tagJobs jobs;
    CJobQueue queue(1);
    queue.push(jobs.job(0));
    queue.push(jobs.job(1)); // waits for job 0's release, which never comes
    EXPECT_TRUE(jobs.reaches(1));
    queue.cancel();
    queue.push(jobs.job(2));
    EXPECT_TRUE(queue.take());
    EXPECT_EQ(jobs.order, (std::vector<int>{0, -1, 1, -1, -1, -1, -1, -1}));
    queue.release();
}

} // namespace
