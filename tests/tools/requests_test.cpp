// Requests to a running daemon: written whole beside its state file, taken
// in the order made, anything else dropped with a reason.
#include "support/temp_dir.h"
#include "tools/daemon/requests.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace chronavel::ctl {
namespace {

TEST(DaemonRequests, TakenInOrderAndOnlyOnce)
{
    test::TempDir dir;
    const std::string state = dir.path().string() + "/sync-ttyUSB0.json";
    std::string error;
    ASSERT_FALSE(PutRequest(state, {DaemonRequest::Kind::kForget, 5}, &error).empty()) << error;
    ASSERT_FALSE(PutRequest(state, {DaemonRequest::Kind::kCensus, 0}, &error).empty()) << error;
    std::ofstream(state + ".request-1") << "format c:\n";     // not a request
    std::ofstream(state + ".request-9.Ab12Cd") << "census\n"; // a temporary being written
    std::ofstream(dir.path().string() + "/other.json.request-2") << "census\n"; // another daemon's
    std::vector<std::string> errors;
    const auto got = TakeRequests(state, &errors);
    EXPECT_EQ(got, (std::vector<DaemonRequest>{{DaemonRequest::Kind::kForget, 5},
                                               {DaemonRequest::Kind::kCensus, 0}}));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("not a request"), std::string::npos) << errors[0];
    EXPECT_TRUE(TakeRequests(state, &errors).empty());
    EXPECT_TRUE(std::filesystem::exists(state + ".request-9.Ab12Cd"));
    EXPECT_TRUE(std::filesystem::exists(dir.path().string() + "/other.json.request-2"));
}

TEST(DaemonRequests, WhatIsARequest)
{
    for (const auto& [text, ok] : {std::pair{"census", true},
                                   {"forget 0x05", true},
                                   {"forget 254", true},
                                   {"forget 0", false},
                                   {"forget 255", false},
                                   {"forget", false},
                                   {"census now", false},
                                   {"", false}}) {
        std::string why;
        EXPECT_EQ(ParseRequest(text, &why).has_value(), ok) << text << ": " << why;
        if (!ok) {
            EXPECT_FALSE(why.empty()) << text;
        }
    }
}

} // namespace
} // namespace chronavel::ctl
