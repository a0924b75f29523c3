// Stored bytes made safe to show: controls in caret notation or as <U+XXXX>, other bytes as
// they are.

#include <gtest/gtest.h>

#include "common/visible.hpp"

namespace profiledesk {
namespace {

TEST(Visible, ShowsEveryControlAndKeepsOtherBytesAndLineEndsWhenAsked) {
    EXPECT_EQ(makeVisible("a\tb\nc\r\x01"), "a^Ib^Jc^M^A");
    EXPECT_EQ(makeVisible("a\tb\nc\r", true), "a\tb\nc^M");
    // U+0080 and U+009F are controls; U+00A0 and U+00E9 are not, nor a Latin-1 byte alone.
    EXPECT_EQ(makeVisible("\xc2\x80\xc2\x9f\xc2\xa0\xc3\xa9\x9b\xc2"),
              "<U+0080><U+009F>\xc2\xa0\xc3\xa9\x9b\xc2");
    EXPECT_EQ(unfinishedControl("ab\xc2"), 1U);
    EXPECT_EQ(unfinishedControl("ab\xc3"), 0U);
}

}  // namespace
// For names in messages: UTF-8 throughout, each stray byte shown, so that names still differ.
TEST(Visible, TextForMessagesIsUtf8WithEachStrayByteShown) {
    EXPECT_EQ(visibleText("K\xf6ln\t\xc3\xa9\xc2\x9b\x9b\xe2\x82\n"),
              "K<0xF6>ln^I\xc3\xa9<U+009B><0x9B><0xE2><0x82>^J");
}

}  // namespace profiledesk
