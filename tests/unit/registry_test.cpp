#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "platform/registry.h"
#include "platform/standin/standin.h"

namespace platform {
static void PrintTo(RegValue kind, std::ostream* os) {
    *os << (kind == RegValue::Text ? "Text" : kind == RegValue::OtherType ? "OtherType" : "Absent");
}
}  // namespace platform

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegValue;

constexpr char16_t kKey[] = u"Software\\Glimmerdeck\\Aurora";
constexpr char16_t kName[] = u"FileName_";

// Text as RegSetValueEx takes it: UTF-16LE, no terminator unless the text holds one.
std::string Bytes(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// Any program of the user can write the value between the queries of one read; `change` is
// called before each query with its number (1 is the query of the size).
class ReadString : public ::testing::Test {
protected:
    // A read still querying after this many has lost its way: the value then goes, so the read
    // ends and the test fails instead of hanging.
    static constexpr int kRunaway = 100;

    void SetUp() override {
        standin::ResetRegistry();
        standin::SetRegistryReadHook([this] {
            if (++queries_ >= kRunaway) {
                RegKey::Create(RegRoot::CurrentUser, kKey).DeleteValue(kName);
            } else if (change_) {
                change_(queries_);
            }
        });
    }
    void TearDown() override { standin::ResetRegistry(); }

    static void Store(const std::string& bytes, bool text = true) {
        standin::SetRegRawValue(RegRoot::CurrentUser, kKey, kName, bytes, text);
    }

    std::pair<RegValue, std::u16string> Read() {
        queries_ = 0;
        std::u16string value = u"left over";
        const RegValue kind = RegKey::Open(RegRoot::CurrentUser, kKey).ReadString(kName, value);
        return {kind, value};
    }

    int queries_ = 0;
    std::function<void(int)> change_;
};

TEST_F(ReadString, StringsOfAnyByteLength) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {"odd length: the half character goes", Bytes(u"C:\\Savers\\Aurora.scr") + "A", u"C:\\Savers\\Aurora.scr"},
        {"odd length after a terminator", Bytes(std::u16string_view(u"ab\0", 3)) + "c", u"ab"},
        {"a single byte", "x", u""},
        {"no terminator", Bytes(u"abc"), u"abc"},
        {"nothing", "", u""},
        {"text up to the first NUL", Bytes(std::u16string_view(u"ab\0cd\0", 6)), u"ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store(c.bytes);
        EXPECT_EQ(Read(), std::make_pair(RegValue::Text, c.text));
        EXPECT_LT(queries_, kRunaway) << "the read loops";
    }
}

TEST_F(ReadString, ValueChangedWhileRead) {
    struct Case {
        const char* what;
        std::function<void(int)> change;
        RegValue kind;
        std::u16string text;
    };
    const Case cases[] = {
        {"grows to an odd length after its size was asked",
         [](int query) {
             if (query == 2) Store(Bytes(u"C:\\Program Files\\Savers\\Aurora.scr") + "A");
         },
         RegValue::Text, u"C:\\Program Files\\Savers\\Aurora.scr"},
        {"shrinks", [](int query) { if (query == 2) Store(Bytes(u"x")); }, RegValue::Text, u"x"},
        {"becomes another type", [](int query) { if (query == 2) Store(Bytes(u"abcd"), false); },
         RegValue::OtherType, u""},
        {"goes",
         [](int query) {
             if (query == 2) RegKey::Create(RegRoot::CurrentUser, kKey).DeleteValue(kName);
         },
         RegValue::Absent, u""},
        // Rewritten longer before every query: after a few tries it counts as absent.
        {"keeps growing", [](int query) { Store(std::string(static_cast<std::size_t>(query) * 101, 'a')); },
         RegValue::Absent, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store(Bytes(u"short"));
        change_ = c.change;
        EXPECT_EQ(Read(), std::make_pair(c.kind, c.text));
        EXPECT_LT(queries_, 10) << "the read gives up by itself";
    }
}

}  // namespace
