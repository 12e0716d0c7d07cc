#include "generative/providers/deadline.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace pv = tarvok::generative::providers;

namespace {

TEST(Watch, CutsTheConnectionInUseOnceTheTimeIsUpAndNothingAfterTheCall) {
    pv::Watch watch(5, 100);
    int cuts = 0, stops = 0;
    watch.on_finish([&] { ++stops; });
    watch.connected([&] { ++cuts; });
    EXPECT_FALSE(watch.timed_out(104.9));
    watch.expire();
    EXPECT_EQ(cuts, 1);
    // Expired early (the timer fired): timed out whatever the clock says.
    EXPECT_EQ(watch.timed_out(100).value_or(""),
              "request timed out: no complete reply within the 5 s request timeout (REQUEST_TIMEOUT, --timeout)");
    watch.finish();
    EXPECT_EQ(stops, 1);
    watch.expire();
    watch.connected([&] { ++cuts; });
    EXPECT_EQ(cuts, 1) << "a finished call cuts nothing";
}

TEST(Watch, AConnectionMadeAfterTheTimeIsUpIsCutAtOnce) {
    pv::Watch watch(1, 0);
    watch.expire();  // no connection yet: nothing to cut
    int cuts = 0;
    watch.connected([&] { ++cuts; });
    EXPECT_EQ(cuts, 1);
    pv::Watch on_time(2, 10);
    EXPECT_FALSE(on_time.timed_out(11.9));
    EXPECT_TRUE(on_time.timed_out(12.0)) << "the deadline passed on the clock alone";
}

TEST(RequestWatch, ACallKeepsOneDeadlineAcrossRedirectsAndFinishesItAtItsEnd) {
    int started = 0, stops = 0;
    auto start = [&] {
        ++started;
        auto watch = std::make_shared<pv::Watch>(30);
        watch->on_finish([&] { ++stops; });
        return watch;
    };
    // Outside a call every request has its own watch, ended by its response.
    pv::RequestWatch alone = pv::watch_for_request(start), again = pv::watch_for_request(start);
    EXPECT_FALSE(alone.owned);
    EXPECT_NE(alone.watch, again.watch);
    {
        pv::BoundedCall call;
        EXPECT_FALSE(call.timed_out()) << "no request yet";
        pv::RequestWatch first = pv::watch_for_request(start), redirect = pv::watch_for_request(start);
        EXPECT_TRUE(first.owned && redirect.owned);
        EXPECT_EQ(first.watch, redirect.watch);
        EXPECT_EQ(started, 3);
        first.watch->expire();
        EXPECT_TRUE(call.timed_out());
    }
    EXPECT_EQ(stops, 1) << "the call's end stops its timer";
    pv::BoundedCall next;
    EXPECT_FALSE(next.timed_out()) << "a new call starts afresh";
    EXPECT_NE(pv::watch_for_request(start).watch, alone.watch);
}

TEST(RunBound, GivingARunUpCutsItsRequestInFlightAndEachLaterOneAsItConnects) {
    auto run = std::make_shared<pv::RunBound>(100);
    int cuts = 0;
    auto start = [] { return std::make_shared<pv::Watch>(180); };
    {
        pv::RunScope scope(run);
        pv::BoundedCall call;
        pv::RequestWatch waiting = pv::watch_for_request(start);
        waiting.watch->connected([&] { ++cuts; });
        run->abandon();  // from the caller's thread, while the request waits
        EXPECT_EQ(cuts, 1);
        EXPECT_EQ(call.timed_out().value_or(""), "request abandoned: the run it belongs to was cancelled");
    }
    {
        pv::RunScope scope(run);
        pv::RequestWatch later = pv::watch_for_request(start);
        later.watch->connected([&] { ++cuts; });
        EXPECT_EQ(cuts, 2);
        EXPECT_TRUE(pv::run_over_here());
    }
    EXPECT_FALSE(pv::run_over_here()) << "the scope's end leaves the thread's requests to themselves";
    pv::RequestWatch outside = pv::watch_for_request(start);
    outside.watch->connected([&] { ++cuts; });
    EXPECT_EQ(cuts, 2);
}

TEST(RunBound, ItsDeadlineBoundsEachRequestAndEndsTheWaitsBetweenThem) {
    EXPECT_EQ(pv::timeout_within_run(30.0, 0), 30.0) << "outside a run: the request's own timeout";
    EXPECT_EQ(pv::timeout_within_run(std::nullopt, 0), std::nullopt);
    auto run = std::make_shared<pv::RunBound>(100, 1000);
    pv::RunScope scope(run);
    EXPECT_EQ(pv::timeout_within_run(30.0, 1000), 30.0);
    EXPECT_EQ(pv::timeout_within_run(30.0, 1090), 10.0) << "only what is left of the run";
    EXPECT_EQ(pv::timeout_within_run(std::nullopt, 1050), 50.0) << "a run bounds a request that has no timeout";
    EXPECT_EQ(pv::timeout_within_run(30.0, 2000), 0.001) << "none left: it ends at once";

    auto given_up = std::make_shared<pv::RunBound>(100);
    pv::RunScope inner(given_up);
    std::vector<double> slept;
    pv::back_off(0.25, [&](double s) { slept.push_back(s); });
    EXPECT_EQ(slept.size(), 3u) << "in pieces while the run goes on";
    given_up->abandon();
    slept.clear();
    pv::back_off(3, [&](double s) { slept.push_back(s); });
    EXPECT_TRUE(slept.empty()) << "no wait once the run is given up";
}

}  // namespace
