#include "census/identity.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct PrefixCase {
    const char* name;
    std::string buffer; // bytes, NULs included
    const char* pattern;
    bool matches;
};

class MatchesIdPrefixTest : public testing::TestWithParam<PrefixCase> {};

TEST_P(MatchesIdPrefixTest, HoldsTheFirstIdentifierAgainstThePattern) {
    const PrefixCase& c = GetParam();
    sim::Reset();
    // Exactly the bytes of the case, so that a read past them is a fault the sanitizers see.
    std::vector<char> buffer(c.buffer.begin(), c.buffer.end());
    EXPECT_EQ(MatchesIdPrefix(buffer.data(), c.pattern), c.matches) << c.buffer;
}

INSTANTIATE_TEST_SUITE_P(
    Rule, MatchesIdPrefixTest,
    testing::Values(
        PrefixCase{"RevisionSuffix", std::string("USB\\VID_7B2E&PID_2F40&REV_0100\0\0", 33),
                   szDongleId, true},
        PrefixCase{"LowerCaseInterfaceNode", std::string("usb\\vid_7b2e&pid_2f40&mi_01\0\0", 29),
                   szDongleId, true},
        PrefixCase{"ExactlyThePattern", std::string("USB\\VID_7B2E&PID_2F40\0", 22), szDongleId,
                   true},
        PrefixCase{"OneCharacterShort", std::string("USB\\VID_7B2E&PID_2F4\0\0", 22), szDongleId,
                   false},
        PrefixCase{"OtherProduct", std::string("USB\\VID_7B2E&PID_0B74\0\0", 23), szDongleId,
                   false},
        PrefixCase{"SecondProduct", std::string("USB\\VID_7B2E&PID_0B74&REV_0001\0\0", 32),
                   szDongleId2, true},
        PrefixCase{"OnlyTheFirstIdentifierCounts",
                   std::string("USB\\VID_1234&PID_5678\0USB\\VID_7B2E&PID_2F40\0\0", 45),
                   szDongleId, false},
        PrefixCase{"AllZeroPrimary", std::string(260, '\0'), szDongleId, false},
        PrefixCase{"AllZeroClass", std::string(260, '\0'), szAssocClassId, false},
        PrefixCase{"ClassTriple", std::string("USB\\Class_EF&SubClass_03&Prot_01\0\0", 34),
                   szAssocClassId, true},
        PrefixCase{"ClassWithoutProtocol", std::string("USB\\Class_EF&SubClass_03\0\0", 26),
                   szAssocClassId, false},
        // No NUL at all: only as many bytes as the pattern has are read.
        PrefixCase{"NoNulPrimary", std::string("USB\\VID_7B2E&PID_2F40"), szDongleId, true},
        PrefixCase{"NoNulClass", std::string("USB\\CLASS_EF&SUBCLASS_03&PROT_01"), szAssocClassId,
                   true},
        PrefixCase{"LastDigitOff", std::string("USB\\VID_7B2E&PID_2F41"), szDongleId, false},
        // Only A-Z fold: a Latin-1 letter never stands in for an ASCII one.
        PrefixCase{"Latin1LetterNeverFolds",
                   std::string("USB\\V\xCD"
                               "D_7B2E&PID_2F40\0",
                               22),
                   szDongleId, false}),
    [](const testing::TestParamInfo<PrefixCase>& info) { return std::string(info.param.name); });

TEST(MatchesIdPrefixCodePage, DoubleByteCharacterNeverMatchesAnAsciiPatternCharacter) {
    sim::Reset();
    sim::SetCodePage(932);
    EXPECT_TRUE(MatchesIdPrefix("usb\\VID_7b2e&PID_2f40&MI_00", szDongleId));
    // 0x82 0x56 is one character under code page 932; its trail byte is the ASCII 'V'.
    EXPECT_FALSE(MatchesIdPrefix("USB\\\x82VID_7B2E&PID_2F40", szDongleId));
    // Full-width capital U (0x8274) folds to full-width u, never to ASCII u.
    EXPECT_FALSE(MatchesIdPrefix("\x82\x74SB\\VID_7B2E&PID_2F40", szDongleId));
}

} // namespace
