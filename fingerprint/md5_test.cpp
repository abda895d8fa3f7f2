#include "fingerprint/md5.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace tavsn::fingerprint {
namespace {

std::string Hex(const std::uint8_t (&digest)[kMd5DigestBytes]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string Md5Hex(const std::string& message) {
  std::uint8_t digest[kMd5DigestBytes];
  md5_digest(message.data(), message.size(), digest);
  return Hex(digest);
}

TEST(Md5, MatchesTheTestSuiteOfRfc1321) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                   "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, NullInputOfLengthZeroIsTheEmptyMessage) {
  std::uint8_t digest[kMd5DigestBytes];
  md5_digest(nullptr, 0, digest);
  EXPECT_EQ(Hex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

// Every split of messages around the 56- and 64-byte boundaries into two or
// three pieces gives the digest of the whole.
TEST(Md5, PiecesAddUpToTheWhole) {
  std::mt19937 random(1321);
  for (std::size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
    std::string message(length, '\0');
    for (char& c : message) c = static_cast<char>(random());
    const std::string whole = Md5Hex(message);
    for (std::size_t first = 0; first <= length; ++first) {
      for (std::size_t second = first; second <= length; second += 7) {
        Md5Context context;
        md5_start(context);
        md5_add(context, message.data(), first);
        md5_add(context, message.data() + first, second - first);
        md5_add(context, message.data() + second, length - second);
        std::uint8_t digest[kMd5DigestBytes];
        md5_finish(context, digest);
        ASSERT_EQ(Hex(digest), whole) << "length " << length << " split " << first << "/" << second;
      }
    }
  }
}

TEST(Md5, AMillionAsSpanManyBlocks) {
  Md5Context context;
  md5_start(context);
  const std::string thousand(1000, 'a');
  for (int i = 0; i < 1000; ++i) md5_add(context, thousand.data(), thousand.size());
  std::uint8_t digest[kMd5DigestBytes];
  md5_finish(context, digest);
  EXPECT_EQ(Hex(digest), "7707d6ae4e027c70eea2a935c2296f21");
}

// md5sum of coreutils is the independent implementation: random messages of
// every length from 0 to 300 bytes, three of each, one md5sum run for all.
TEST(Md5, AgreesWithMd5sumOnRandomMessagesOfEveryLength) {
  char folder_template[] = "/tmp/tavsn-md5-XXXXXX";
  ASSERT_NE(mkdtemp(folder_template), nullptr);
  const std::filesystem::path folder = folder_template;
  std::mt19937 random(20240601);
  std::map<std::string, std::string> expected_by_file;
  std::string file_list;
  for (std::size_t length = 0; length <= 300; ++length) {
    for (int copy = 0; copy < 3; ++copy) {
      std::string message(length, '\0');
      for (char& c : message) c = static_cast<char>(random());
      const std::string name = std::to_string(length) + "_" + std::to_string(copy);
      std::ofstream(folder / name, std::ios::binary).write(message.data(), message.size());
      expected_by_file[name] = Md5Hex(message);
      file_list += " " + name;
    }
  }
  const std::string command = "cd '" + folder.string() + "' && md5sum" + file_list;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::map<std::string, std::string> md5sum_by_file;
  char line[256];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const std::size_t space = text.find("  ");
    ASSERT_NE(space, std::string::npos) << text;
    md5sum_by_file[text.substr(space + 2)] = text.substr(0, space);
  }
  EXPECT_EQ(pclose(pipe), 0);
  std::filesystem::remove_all(folder);
  ASSERT_EQ(md5sum_by_file.size(), expected_by_file.size());
  for (const auto& [name, digest] : expected_by_file) EXPECT_EQ(md5sum_by_file[name], digest) << name;
}

}  // namespace
}  // namespace tavsn::fingerprint
