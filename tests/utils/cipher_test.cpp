#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "utils/base64.h"
#include "utils/blowfish.h"
#include "utils/text_cipher.h"

namespace {

std::string FromHex(const char* hex) {
  std::string bytes;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
  }
  return bytes;
}

// Eric Young's variable-key ECB test vectors for Blowfish, as published with
// the algorithm (8-byte keys).
TEST(BlowfishTest, PublishedVariableKeyVectors) {
  static const struct {
    const char* key;
    const char* plain;
    const char* cipher;
  } kCases[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
      {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
      {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
      {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
      {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
      {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
      {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
      {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
      {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
      {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
      {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
      {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
      {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
      {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
      {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
      {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
      {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
      {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
      {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
      {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
      {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
      {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
      {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
      {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
      {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
      {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.plain);
    const std::string key = FromHex(c.key);
    utils::Blowfish cipher(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    ASSERT_TRUE(cipher.IsKeyed());
    std::string block = FromHex(c.plain);
    cipher.EncryptBlock(reinterpret_cast<uint8_t*>(block.data()));
    EXPECT_EQ(block, FromHex(c.cipher));
    cipher.DecryptBlock(reinterpret_cast<uint8_t*>(block.data()));
    EXPECT_EQ(block, FromHex(c.plain));
  }
}

TEST(BlowfishTest, KeyLengthLimits) {
  const uint8_t key[57] = {1};
  EXPECT_FALSE(utils::Blowfish(key, 0).IsKeyed());
  EXPECT_FALSE(utils::Blowfish(nullptr, 8).IsKeyed());
  EXPECT_FALSE(utils::Blowfish(key, 57).IsKeyed());
  EXPECT_TRUE(utils::Blowfish(key, 56).IsKeyed());
  EXPECT_TRUE(utils::Blowfish(key, 1).IsKeyed());
}

TEST(Base64Test, EncodeAndStrictDecode) {
  static const struct {
    const char* bytes;
    const char* text;
  } kCases[] = {
      {"", ""},       {"f", "Zg=="},         {"fo", "Zm8="},           {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {"\xfb\xff\xfe", "+//+"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(utils::Base64Encode(c.bytes), c.text);
    std::string decoded = "untouched";
    ASSERT_TRUE(utils::Base64Decode(c.text, &decoded));
    EXPECT_EQ(decoded, c.bytes);
  }
  static const char* const kInvalid[] = {"Zg=", "Zg", "Z===", "====", "Zg==Zg==", "Z=g=",
                                         "Zm 9", "Zm9\n", "Zm9-", "Zm9_"};
  for (const char* text : kInvalid) {
    SCOPED_TRACE(text);
    std::string decoded = "untouched";
    EXPECT_FALSE(utils::Base64Decode(text, &decoded));
    EXPECT_EQ(decoded, "untouched");
  }
}

TEST(TextCipherTest, BlockFillDecidesTheLength) {
  static const struct {
    size_t plain_size;
    size_t text_size;
  } kCases[] = {{1, 12}, {7, 12}, {8, 12}, {9, 24}, {16, 24}, {17, 32}, {24, 32}, {100, 140}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.plain_size);
    const std::string plain(c.plain_size, 'a');
    std::string text;
    ASSERT_TRUE(utils::EncryptText(plain, &text, false));
    EXPECT_EQ(text.size(), c.text_size);
    std::string back;
    ASSERT_TRUE(utils::DecryptText(text, &back, false));
    // The zero fill of the last block stays in the output.
    const size_t filled = (c.plain_size + 7) / 8 * 8;
    EXPECT_EQ(back, plain + std::string(filled - c.plain_size, '\0'));
  }
}

// A text that this build wrote must stay readable by every later build: the
// key, the tables and the byte order are part of the installed file format.
// Checked against an independent Blowfish implementation when recorded.
TEST(TextCipherTest, KnownCipherTexts) {
  static const struct {
    const char* plain;
    bool substitute;
    const char* text;
  } kCases[] = {
      {"{\"info_version\":\"1\",\"login_url\":\"http://127.0.0.1/login\"}", false,
       "ALchj3aXezt287bcYfSAZXRUU7AH3LPc4Z6g5wGjPB94XW+TLW797dtWvZzUJ6TcqaIsMeWZknLMomvZAE0z+w=="},
      {"12345678", false, "93NqrLqvZu8="},
      {"12345678", true, "93NqrLqvZu8@"},
      {"123456789", false, "93NqrLqvZu8ecqn/JuEOQQ=="},
      {"123456789", true, "93NqrLqvZu8ecqn&JuEOQQ@@"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string text;
    ASSERT_TRUE(utils::EncryptText(c.plain, &text, c.substitute));
    EXPECT_EQ(text, c.text);
    std::string plain;
    ASSERT_TRUE(utils::DecryptText(c.text, &plain, c.substitute));
    EXPECT_EQ(plain.substr(0, strlen(c.plain)), c.plain);
  }
}

TEST(TextCipherTest, RoundTripsWithAndWithoutSubstitutes) {
  // Bytes of every value, so the cipher text holds "/" and "=" somewhere.
  std::string plain;
  for (int i = 0; i < 256; ++i) plain += static_cast<char>(i);
  plain += "x";  // 257 bytes: the last block is filled
  for (bool substitute : {false, true}) {
    SCOPED_TRACE(substitute);
    std::string text;
    ASSERT_TRUE(utils::EncryptText(plain, &text, substitute));
    if (substitute) {
      EXPECT_EQ(text.find_first_of("/="), std::string::npos);
    } else {
      EXPECT_EQ(text.find_first_of("&@"), std::string::npos);
    }
    std::string back;
    ASSERT_TRUE(utils::DecryptText(text, &back, substitute));
    EXPECT_EQ(back, plain + std::string(7, '\0'));
  }
}

TEST(TextCipherTest, BadInputFailsAndLeavesTheOutput) {
  std::string out = "untouched";
  EXPECT_FALSE(utils::EncryptText("", &out, false));
  EXPECT_FALSE(utils::EncryptText("", &out, true));
  EXPECT_EQ(out, "untouched");
  static const struct {
    const char* text;
    bool substitute;
  } kInvalid[] = {
      {"", false},
      {"", true},
      {"93NqrLqvZu8", false},          // length not a multiple of 4
      {"93NqrLqvZu8@", false},         // a substitute without the flag
      {"93Nq&LqvZu8=", false},
      {"93NqrLqvZu8ecqn/JuEOQQ=", false},
      {"93Nq rLqvZu8=", false},
      {"AAAA", false},                 // valid Base64, but 3 bytes are no block
      {"93NqrLqvZu8ecqn/JuEOQQ==\n", false},
  };
  for (const auto& c : kInvalid) {
    SCOPED_TRACE(c.text);
    std::string plain = "untouched";
    EXPECT_FALSE(utils::DecryptText(c.text, &plain, c.substitute));
    EXPECT_EQ(plain, "untouched");
  }
}

}  // namespace
