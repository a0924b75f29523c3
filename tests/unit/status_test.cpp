// The outcome of an operation: its code says whether it failed, and its message and the
// system's reason are kept apart.

#include <gtest/gtest.h>

#include "common/status.hpp"

namespace profiledesk {
namespace {

TEST(Status, TheCodeSaysSuccessNotAnEmptyMessage) {
    EXPECT_FALSE(Status::failure("").isOk());
    EXPECT_FALSE(Status::failure(Status::Code::ok, "").isOk());
    EXPECT_TRUE(Status::ok().isOk());
    EXPECT_EQ(Status::ok().code(), Status::Code::ok);
}

TEST(Status, TheReasonIsTheSystemsWordsAloneAndEmptyWithoutThem) {
    const Status named =
        Status::failure(Status::Code::accessDenied, "could not read", "a.dat", "Permission denied");
    EXPECT_EQ(named.message(), "could not read 'a.dat': Permission denied");
    EXPECT_EQ(named.reason(), "Permission denied");
    const Status plain = Status::failure("could not list 'a.dat' into itself");
    EXPECT_EQ(plain.reason(), "");
    EXPECT_EQ(Status::ok().reason(), "");
}

}  // namespace
}  // namespace profiledesk
