#include <gtest/gtest.h>

#include "common/lang.h"

TEST(Lang, Placeholder) { FreeLangStrings(); EXPECT_EQ(LangStr(u"Next"), u"Next"); }
