// Text conversions and the run-time's text operations.
#include "platform/automation.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "support/failures.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace vk {
namespace {

TEST(Utf, RoundTripsTurkishAndAstralText) {
  const std::string s = "İşÇğÜö ıi \xF0\x9F\x98\x80 Bileşenleri";
  EXPECT_EQ(toUtf8(fromUtf8(s)), s);
  EXPECT_EQ(fromUtf8("ş"), u"ş");
  EXPECT_EQ(fromUtf8("\xF0\x9F\x98\x80").size(), 2u);
}

TEST(Utf, MalformedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(fromUtf8("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(fromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD"); // overlong "/" is never a slash
  EXPECT_EQ(fromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(toUtf8(Text(1, static_cast<char16_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(CaseFolding, FollowsWindowsFileNamesNotTheLocale) {
  EXPECT_TRUE(equalsIgnoreCase(u"bileşenleri", u"BILEŞENLERI"));
  EXPECT_TRUE(equalsIgnoreCase(u"prgDosyaları", u"PRGDOSYALARı"));
  EXPECT_FALSE(equalsIgnoreCase(u"ı", u"I")); // dotless i has no upper case here
  EXPECT_FALSE(equalsIgnoreCase(u"i", u"İ"));
  EXPECT_TRUE(equalsIgnoreCase(u"ĞÜŞÖÇ", u"ğüşöç"));
  EXPECT_FALSE(equalsIgnoreCase(u"abc", u"abcd"));
}

TEST(RuntimeText, LeftRightUpperAndNumbers) {
  EXPECT_EQ(rtcLeftCharVar(u"104.0.5112.81", 3), u"104");
  EXPECT_EQ(rtcLeftCharVar(u"99.0.4844.84", 3), u"99.");
  EXPECT_EQ(rtcLeftCharVar(u"9", 3), u"9");
  EXPECT_EQ(rtcRightCharVar(u"wmp.dll", 3), u"dll");
  EXPECT_EQ(rtcRightCharVar(u"ab", 3), u"ab");
  EXPECT_EQ(rtcUpperCaseVar(u"mscomctl.ocx"), u"MSCOMCTL.OCX");
  EXPECT_EQ(vbaStrI4(-2146697211), u"-2146697211");
  EXPECT_EQ(vbaStrCmp(u"a", u"A") != 0, true);
}

TEST(Variants, CompareAsTheRunTimeDoes) {
  EXPECT_TRUE(vbaVarTstEq(Variant(std::int32_t{200}), Variant(std::int16_t{200})));
  EXPECT_FALSE(vbaVarTstEq(Variant(u"104"), Variant(u"104 ")));
  EXPECT_TRUE(vbaVarTstEq(Variant(), Variant(u"")));
  EXPECT_EQ(Variant(std::int32_t{-5}).toText(), u"-5");
  // Doubles as the run-time writes them.
  for (const auto& [value, text] : {std::pair{1.5, u"1.5"},
                                    {200.0, u"200"},
                                    {-0.0, u"0"},
                                    {1.0 / 3, u"0.333333333333333"},
                                    {2.0 / 3, u"0.666666666666667"},
                                    {123456789012345.0, u"123456789012345"},
                                    {1e15, u"1E+15"},
                                    {-2.5e-7, u"-2.5E-07"},
                                    {1e-5, u"1E-05"},
                                    {1e100, u"1E+100"}})
    EXPECT_EQ(Variant(value).toText(), Text(text)) << value;
  EXPECT_THROW(Variant().toObject(), RuntimeError);
  EXPECT_EQ(test::errorNumber([] { Variant(ObjectRef{}).toObject(); }), 91);
  EXPECT_THROW(Variant(u"abc").toInt32(), RuntimeError);
}

TEST(Variants, ByteArraysPassWithoutBeingCopied) {
  const Variant body(Bytes(8 << 20, 0x5A));
  const Args args{body}; // as a call's argument list holds it
  EXPECT_EQ(&args[0].toBytes(), &body.toBytes());
  EXPECT_EQ(args[0].toBytes().size(), 8u << 20);
  EXPECT_THROW(Variant(u"text").toBytes(), RuntimeError);
}

// A number raised with the run-time's own text must be named, and a name
// cannot be made for a number without its row: no raised number shows the
// text for unknown numbers.
static_assert(!std::is_constructible_v<RuntimeError, std::int32_t>);

TEST(ErrorTexts, EachNumberHasOneRowWithItsOwnText) {
  for (const err::Row& row : err::kRows) {
    SCOPED_TRACE(row.number);
    EXPECT_FALSE(row.text.empty());
    EXPECT_NE(Text(row.text), Text(err::kUnknownText));
    // A second row for the number would be hidden behind the first.
    EXPECT_EQ(describeError(row.number), Text(row.text));
  }
  EXPECT_EQ(RuntimeError(err::DiskFull).description(), u"Disk dolu");
  EXPECT_EQ(describeError(1004), u"Uygulama tanımlı veya nesne tanımlı hata");
}

} // namespace
} // namespace vk
