// Windows only: the registry switch, and the portable MulDiv against the
// system's own.
#ifdef _WIN32

#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_testing.h"

namespace qrx {
namespace platform {
namespace {

namespace raw = platform::testing;

// Writes the value for one test and removes the key again afterwards (the
// Wine prefix belongs to the test run alone).
class RegistrySwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    raw::DeleteSwitchKey();
    ASSERT_TRUE(raw::CreateSwitchKey(nullptr));
  }
  void TearDown() override { raw::DeleteSwitchKey(); }
  void Set(raw::RegistryType type, const void* bytes, uint32_t size) {
    ASSERT_TRUE(raw::SetSwitchValue(type, bytes, size));
  }
};

TEST_F(RegistrySwitch, AbsentKeyOrValueReadsZero) {
  EXPECT_EQ(ReadStoreInUsersFolder(), 0u);  // key without the value
  ASSERT_TRUE(raw::DeleteSwitchKey());
  EXPECT_EQ(ReadStoreInUsersFolder(), 0u);  // no key at all
}

TEST_F(RegistrySwitch, DwordValue) {
  const uint32_t one = 1;
  Set(raw::RegistryType::Dword, &one, sizeof(one));
  EXPECT_EQ(ReadStoreInUsersFolder(), 1u);
  const uint32_t big = 0x12345678;
  Set(raw::RegistryType::Dword, &big, sizeof(big));
  EXPECT_EQ(ReadStoreInUsersFolder(), 0x12345678u);
  const uint32_t zero = 0;
  Set(raw::RegistryType::Dword, &zero, sizeof(zero));
  EXPECT_EQ(ReadStoreInUsersFolder(), 0u);
}

TEST_F(RegistrySwitch, ShortValueOfOtherTypeCountsByItsBytes) {
  const unsigned char two[2] = {0x34, 0x12};
  Set(raw::RegistryType::Binary, two, sizeof(two));
  EXPECT_EQ(ReadStoreInUsersFolder(), 0x1234u);
  Set(raw::RegistryType::String, "1", 2);  // '1' and its terminator
  EXPECT_EQ(ReadStoreInUsersFolder(), 0x31u);
  const unsigned char longer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Set(raw::RegistryType::Binary, longer, sizeof(longer));
  EXPECT_EQ(ReadStoreInUsersFolder(), 0u);  // does not fit: counts as absent
}

TEST(PlatformWindows, ExecutableAndCommandLine) {
  EXPECT_EQ(HostExecutablePath(), raw::RawExecutablePath());
  EXPECT_EQ(ProcessCommandLine(), raw::RawCommandLine());
  std::string appData;
  ASSERT_TRUE(GetUserAppDataFolder(&appData));
  EXPECT_TRUE(raw::RawPathExists(appData)) << appData;
}

// Replacing a file that another program holds open without delete sharing
// fails at the final move; the old contents stay and the temporary goes.
TEST(PlatformWindows, OldFileKeptWhenTargetIsLocked) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("qrx_locked_" + std::to_string(raw::RawProcessId()));
  fs::remove_all(folder);
  ASSERT_TRUE(fs::create_directories(folder));
  const std::string path = (folder / "a.ini").string();
  { std::ofstream(path, std::ios::binary) << "old contents"; }
  raw::HeldFile held = raw::HoldFileOpen(path);
  ASSERT_NE(held, nullptr);
  EXPECT_FALSE(ReplaceFileContents(path, "new", 3));
  raw::ReleaseFile(held);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "old contents");
  in.close();
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    ++entries;
    EXPECT_EQ(entry.path().filename().string(), "a.ini");
  }
  EXPECT_EQ(entries, 1);
  // Released, the same file is replaced.
  EXPECT_TRUE(ReplaceFileContents(path, "new", 3));
  fs::remove_all(folder);
}

// The portable MulDiv must agree with the system's wherever the system
// follows the rule (64-bit product, halves away from zero, -1 when the
// divisor is 0 or the result does not fit). Wine's MulDiv departs from the
// rule in three kinds of input, which are counted and shown, not failed:
//  0. the exact result INT_MIN: Wine answers -1;
//  1. the divisor INT_MIN: Wine negates it, which overflows, and the sign
//     of its result comes out wrong;
//  2. the number INT_MIN with a negative divisor: Wine negates the number,
//     which overflows, and the sign of its result comes out wrong.
int DepartureKind(int32_t a, int32_t c, int32_t portable) {
  if (portable == INT_MIN) return 0;
  if (c == INT_MIN) return 1;
  if (a == INT_MIN && c < 0) return 2;
  return -1;
}

std::string Describe(int32_t a, int32_t b, int32_t c, int32_t system, int32_t portable) {
  std::ostringstream text;
  text << "MulDiv(" << a << ", " << b << ", " << c << "): system " << system << ", portable "
       << portable;
  return text.str();
}

TEST(PlatformWindows, PortableMulDivMatchesSystem) {
  const std::vector<int32_t> edges = {0, 1, -1, 2, -2, 3, -3, 7, -7, 576, 704, 14727, 65535,
                                      65537, 46340, 46341, -46341, 1 << 30, -(1 << 30), INT_MAX,
                                      INT_MIN, INT_MAX - 1, INT_MIN + 1};
  int counts[3] = {0, 0, 0};
  std::vector<std::string> examples[3];
  std::vector<std::string> unexpected;
  long long compared = 0;
  auto check = [&](int32_t a, int32_t b, int32_t c) {
    ++compared;
    const int32_t system = raw::SystemMulDiv(a, b, c);
    const int32_t portable = detail::PortableMulDiv(a, b, c);
    if (system == portable) return;
    const std::string text = Describe(a, b, c, system, portable);
    const int kind = DepartureKind(a, c, portable);
    if (kind >= 0) {
      ++counts[kind];
      if (examples[kind].size() < 3) examples[kind].push_back(text);
    } else if (unexpected.size() < 20) {
      unexpected.push_back(text);
    }
  };
  for (int32_t a : edges) {
    for (int32_t b : edges) {
      for (int32_t c : edges) check(a, b, c);
    }
  }
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<int32_t> small(-5000, 5000);
  for (int i = 0; i < 300000; ++i) {
    switch (i % 4) {
      case 0:  // many exact halves
        check(small(rng), small(rng), small(rng) / 50);
        break;
      case 1:  // results near the 32-bit limit
        check(any(rng), small(rng), small(rng));
        break;
      case 2: {  // results just around INT_MAX and INT_MIN
        const int32_t c = small(rng) | 1;
        const int64_t target = (i & 4 ? int64_t{INT_MAX} : int64_t{INT_MIN}) + small(rng) % 3;
        check(static_cast<int32_t>(target / 2), 2 * c, c);
        break;
      }
      default:
        check(any(rng), any(rng), any(rng));
        break;
    }
  }
  std::printf("compared %lld triples\n", compared);
  for (int kind = 0; kind < 3; ++kind) {
    std::printf("known departure %d: %d inputs\n", kind, counts[kind]);
    for (const std::string& text : examples[kind]) std::printf("  %s\n", text.c_str());
  }
  for (const std::string& text : unexpected) ADD_FAILURE() << text;
  // The interface's MulDiv is the system's in this build.
  EXPECT_EQ(MulDiv(14727, 480, 576), raw::SystemMulDiv(14727, 480, 576));
}

}  // namespace
}  // namespace platform
}  // namespace qrx

#endif  // _WIN32
