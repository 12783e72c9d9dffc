// The times at which a connect without an answer is started again.

#include "line/connect_retry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> Starts(int budgetMs)
{
    std::vector<int> starts;
    for (int attempt = 0; rq::platform::ConnectAttemptStartMs(attempt, budgetMs) >= 0; ++attempt)
        starts.push_back(rq::platform::ConnectAttemptStartMs(attempt, budgetMs));
    return starts;
}

TEST(ConnectRetry, ALostSynIsSentAgainWithinTheOpensTime)
{
    EXPECT_EQ(Starts(2000), (std::vector<int>{0, 250, 750, 1750}));
    // The time shared by two addresses, and none left: the first attempt only.
    EXPECT_EQ(Starts(1000), (std::vector<int>{0, 250, 750}));
    EXPECT_EQ(Starts(0), (std::vector<int>{0}));
}

}  // namespace
