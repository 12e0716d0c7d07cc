#include "generative/providers/deadline.hpp"

#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
