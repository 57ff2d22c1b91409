#include <gtest/gtest.h>

#include "common/lang.h"

namespace {

struct LangCase {
    const char* name;
    std::u16string text;
    std::string english;
    std::u16string expected;
};

void PrintTo(const LangCase& c, std::ostream* os) { *os << c.name; }

class LangTable : public ::testing::TestWithParam<LangCase> {
protected:
    void TearDown() override { FreeLangStrings(); }
};

TEST_P(LangTable, Translates) {
    const auto& c = GetParam();
    LoadLangSection(c.text, u"Setup");
    EXPECT_EQ(LangStr(c.english), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LangTable,
    ::testing::Values(
        LangCase{"Plain", u"Setup\r\nNext=Weiter\r\n", "Next", u"Weiter"},
        LangCase{"LoneLf", u"Setup\nNext=Weiter", "Next", u"Weiter"},
        LangCase{"LoneCr", u"Setup\rNext=Weiter\r", "Next", u"Weiter"},
        LangCase{"BracketedHeader", u"[Setup]\r\nNext=Weiter", "Next", u"Next"},
        LangCase{"EmptyLineEndsSection", u"Setup\r\n\r\nNext=Weiter", "Next", u"Next"},
        LangCase{"SectionAgain", u"Setup\r\nBack=Zurück\r\nOther\r\nNext=X\r\nSetup\r\nNext=Weiter", "Next",
                 u"Weiter"},
        LangCase{"KeyNotTrimmed", u"Setup\r\nNext = Weiter", "Next", u"Next"},
        LangCase{"CaseSensitiveKey", u"Setup\r\nnext=Weiter", "Next", u"Next"},
        LangCase{"FurtherEqualsBelongToValue", u"Setup\r\na=b=c", "a", u"b=c"},
        LangCase{"FirstDuplicateWins", u"Setup\r\nNext=Eins\r\nNext=Zwei", "Next", u"Eins"},
        LangCase{"EmptyValue", u"Setup\r\nNext=", "Next", u""},
        LangCase{"BreakCodeInValue", u"Setup\r\nNext=Zeile 1#13Zeile 2", "Next", u"Zeile 1\r\nZeile 2"},
        LangCase{"BreakCodeInKey", u"Setup\r\nA#13B=C#13D", "A\r\nB", u"C\r\nD"},
        LangCase{"BeforeFirstHeader", u"Next=Weiter\r\nSetup\r\n", "Next", u"Next"},
        LangCase{"NoSetupSection", u"Saver\r\nNext=Weiter", "Next", u"Next"},
        LangCase{"EmptyText", u"", "Next", u"Next"},
        LangCase{"NulEndsText", std::u16string(u"Setup\r\nBack=Zur\0Next=Weiter", 27), "Next", u"Next"},
        LangCase{"HeaderKeepsBlanks", u" Setup\r\nNext=Weiter", "Next", u"Next"},
        LangCase{"MissingKey", u"Setup\r\nBack=Zurück", "Next", u"Next"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LangLifecycle, NoTableBeforeLoadAndAfterFree) {
    FreeLangStrings();
    EXPECT_EQ(LangStr("Next"), u"Next");
    LoadLangSection(u"Setup\r\nNext=Weiter", u"Setup");
    EXPECT_EQ(LangStr("Next"), u"Weiter");
    FreeLangStrings();
    EXPECT_EQ(LangStr("Next"), u"Next");
}

TEST(LangLifecycle, EmptySectionKeepsEverySection) {
    LoadLangSection(u"A\r\nx=1\r\nB\r\ny=2\r\nz=3", u"");
    EXPECT_EQ(LangStr("x"), u"1");
    EXPECT_EQ(LangStr("y"), u"2");
    FreeLangStrings();
}

TEST(LangLifecycle, ReloadReplacesTheTable) {
    LoadLangSection(u"Setup\r\nNext=Weiter", u"Setup");
    LoadLangSection(u"Setup\r\nBack=Zurück", u"Setup");
    EXPECT_EQ(LangStr("Next"), u"Next");
    EXPECT_EQ(LangStr("Back"), u"Zurück");
    FreeLangStrings();
}

}  // namespace
