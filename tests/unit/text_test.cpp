#include <gtest/gtest.h>

#include "common/text.h"

namespace {

TEST(WebAddress, OnlyHttpHttpsAndMailto) {
    struct Case {
        std::u16string address;
        bool web;
    };
    const Case cases[] = {
        {u"https://example.com/aurora", true},
        {u"http://example.com", true},
        {u"mailto:aurora@example.com?subject=Setup&x=1", true},
        {u"HTTPS://EXAMPLE.COM", true},
        {u"MailTo:a@b.c", true},
        {u"https://example.com/\u00fcber", true},
        {u"", false},
        {u"calc.exe", false},
        {u"C:\\Windows\\notepad.exe", false},
        {u"file:///C:/windows/notepad.exe", false},
        {u"javascript:alert(1)", false},
        {u"ftp://example.com", false},
        {u"httpx://example.com", false},
        {u"https", false},
        {u"https:", false},
        {u"://example.com", false},
        {u" https://example.com", false},
        {u"\\\\server\\share\\https:x", false},
        // A non-ASCII letter is no letter of the scheme, whatever it folds to elsewhere.
        {u"http\u017f://example.com", false},
        {u"https://example.com/a b", false},
        {u"https://example.com/\" --flag", false},
        {u"https://example.com/\tx", false},
        {u"https://example.com/\x7f", false},
    };
    for (const auto& c : cases) EXPECT_EQ(text::IsWebAddress(c.address), c.web) << text::Utf16ToUtf8(c.address);
}

}  // namespace
