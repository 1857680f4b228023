// MulDiv, affinity, aligned memory, messages and the settings-location
// inputs.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qrx {
namespace platform {
namespace {

struct MulDivCase {
  int32_t a, b, c, expected;
};

const MulDivCase kMulDivCases[] = {
    // The frequency scale of the transform.
    {13500, 512, 704, 9818},
    {13500, 256, 704, 4909},
    {13500, 1024, 704, 19636},
    {14727, 576, 576, 14727},
    {14727, 480, 576, 12273},  // 12272.5
    {14727, 288, 576, 7364},   // 7363.5
    {1000, 512, 9818, 52},
    {13727, 1024, 14727, 954},
    // Halves go away from zero, whatever the signs.
    {1, 1, 2, 1},
    {-1, 1, 2, -1},
    {1, -1, 2, -1},
    {1, 1, -2, -1},
    {-1, -1, -2, -1},
    {3, 1, 2, 2},
    {-3, 1, 2, -2},
    {-3, 1, -2, 2},
    {3, 1, -2, -2},
    {5, 1, -2, -3},
    {-5, -1, 2, 3},
    // Below a half: towards zero.
    {1, 1, 3, 0},
    {-1, 1, 3, 0},
    {2, 1, 3, 1},
    {-2, 1, 3, -1},
    {4, 1, -3, -1},
    {0, 5, -7, 0},
    {0, INT_MIN, INT_MIN, 0},
    // No divisor.
    {5, 7, 0, -1},
    {0, 0, 0, -1},
    {INT_MIN, INT_MIN, 0, -1},
    // Limits of the 32-bit result.
    {INT_MAX, 1, 1, INT_MAX},
    {INT_MAX, 2, 2, INT_MAX},
    {INT_MAX, 2, 1, -1},
    {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
    {INT_MAX, INT_MAX, INT_MIN, -2147483646},
    {INT_MAX, 1, 2, 1073741824},
    {INT_MIN, 1, 1, INT_MIN},
    {INT_MIN, 1, -1, -1},
    {INT_MIN, -1, 1, -1},
    {INT_MIN, -1, -1, INT_MIN},
    {INT_MIN, INT_MIN, INT_MIN, INT_MIN},
    {INT_MIN, INT_MAX, INT_MAX, INT_MIN},
    {INT_MIN, INT_MAX, INT_MIN, INT_MAX},
    {INT_MIN, INT_MIN, INT_MAX, -1},
    {INT_MIN, 1, 2, -1073741824},
    {INT_MIN + 1, 1, 2, -1073741824},
    {-1073741824, 4, 2, INT_MIN},
    {65535, 65537, 2, -1},          // 2147483647.5 rounds out of range
    {-65535, 65537, 2, INT_MIN},    // -2147483647.5 rounds to the limit
    {65535, 65537, 3, 1431655765},  // 1431655765 exactly
    {46341, 46341, 1, -1},
    {-46341, 46341, 1, -1},
    {46340, 46340, 1, 2147395600},
};

TEST(PlatformMulDiv, TableOfValues) {
  for (const MulDivCase& t : kMulDivCases) {
    EXPECT_EQ(detail::PortableMulDiv(t.a, t.b, t.c), t.expected)
        << "MulDiv(" << t.a << ", " << t.b << ", " << t.c << ")";
  }
}

TEST(PlatformMulDiv, FrequencyScaleThroughInterface) {
  // The values the transform depends on, through whatever the build uses.
  EXPECT_EQ(MulDiv(13500, 512, 704), 9818);
  EXPECT_EQ(MulDiv(14727, 480, 576), 12273);
  EXPECT_EQ(MulDiv(14727, 288, 576), 7364);
  EXPECT_EQ(MulDiv(13727, 1024, 14727), 954);
  EXPECT_EQ(MulDiv(-3, 1, 2), -2);
  EXPECT_EQ(MulDiv(7, 7, 0), -1);
}

// Independent reference: the exact quotient in long double, rounded half
// away from zero by llroundl. Divisors are kept below 2^30 so that the
// rounding of the division cannot move a quotient across a half.
int32_t ReferenceMulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const long double q = static_cast<long double>(static_cast<int64_t>(a) * b) / c;
  if (std::fabs(q) > 4.0e9L) return -1;
  const long long r = std::llroundl(q);
  if (r < INT32_MIN || r > INT32_MAX) return -1;
  return static_cast<int32_t>(r);
}

TEST(PlatformMulDiv, RandomAgainstReference) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<int32_t> small(-3000, 3000);
  std::uniform_int_distribution<int32_t> divisor(-(1 << 30), 1 << 30);
  int mismatches = 0;
  for (int i = 0; i < 200000 && mismatches < 10; ++i) {
    int32_t a, b, c;
    switch (i % 4) {
      case 0:  // small values: many exact halves
        a = small(rng), b = small(rng), c = small(rng) / 100;
        break;
      case 1:  // results near the 32-bit limit
        a = any(rng), b = small(rng), c = small(rng);
        break;
      case 2:
        a = any(rng), b = any(rng), c = divisor(rng);
        break;
      default:  // c even and a * b an odd multiple of c / 2
        c = 2 * (small(rng) | 1);
        a = (c / 2) * (2 * (small(rng) % 1000) + 1), b = 1;
        break;
    }
    const int32_t got = detail::PortableMulDiv(a, b, c);
    const int32_t want = ReferenceMulDiv(a, b, c);
    if (got != want) {
      ++mismatches;
      ADD_FAILURE() << "MulDiv(" << a << ", " << b << ", " << c << ") = " << got
                    << ", reference " << want;
    }
  }
}

// ---------------------------------------------------------------- system facts
TEST(PlatformSystem, AffinityMaskHasAProcessor) { EXPECT_NE(ProcessAffinityMask(), 0u); }

TEST(PlatformSystem, AlignedBlocks) {
  const size_t sizes[] = {0, 1, 3, 15, 16, 17, 1000, 4096 * 3 + 5, 1 << 20};
  std::vector<void*> blocks;
  for (size_t size : sizes) {
    void* block = AlignedAlloc(size);
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
    // The whole block is usable.
    if (size > 0) {
      static_cast<unsigned char*>(block)[0] = 1;
      static_cast<unsigned char*>(block)[size - 1] = 2;
    }
    blocks.push_back(block);
  }
  // Zero-byte blocks are distinct, too.
  void* another = AlignedAlloc(0);
  ASSERT_NE(another, nullptr);
  EXPECT_NE(another, blocks[0]);
  AlignedFree(another);
  for (void* block : blocks) AlignedFree(block);
  AlignedFree(nullptr);
}

// ---------------------------------------------------------------- messages
struct Captured {
  std::vector<std::string> texts;
};

void Capture(const char* text, void* context) {
  static_cast<Captured*>(context)->texts.push_back(text);
}

TEST(PlatformMessages, SinkReceivesTheText) {
  Captured captured;
  SetMessageSink(Capture, &captured);
  ShowMessage("FFTRowThread - WAIT_TIMEOUT");
  ShowMessage("About", MessageIcon::Information);
  ShowMessage(nullptr);
  SetMessageSink(nullptr, nullptr);
  ASSERT_EQ(captured.texts.size(), 3u);
  EXPECT_EQ(captured.texts[0], "FFTRowThread - WAIT_TIMEOUT");
  EXPECT_EQ(captured.texts[1], "About");
  EXPECT_EQ(captured.texts[2], "");
}

uint32_t ShowMany(void*) {
  for (int i = 0; i < 200; ++i) ShowMessage("worker - message");
  return 0;
}

TEST(PlatformMessages, SinkCalledFromSeveralThreads) {
  // The sink appends to a plain vector: the calls must not overlap.
  Captured captured;
  SetMessageSink(Capture, &captured);
  Thread threads[4];
  for (Thread& t : threads) t = StartThread(ShowMany, nullptr);
  for (Thread t : threads) {
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(JoinThread(t, kInfinite), WaitStatus::Ok);
    CloseThread(t);
  }
  SetMessageSink(nullptr, nullptr);
  EXPECT_EQ(captured.texts.size(), 800u);
}

#ifndef _WIN32
TEST(PlatformMessages, WithoutSinkOneLineOnStandardError) {
  testing::internal::CaptureStderr();
  ShowMessage("ResumeThread - StartTask.PulseEvent() == FALSE");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "QRX_FreqFilter: ResumeThread - StartTask.PulseEvent() == FALSE\n");
}
#endif

// ---------------------------------------------------------------- settings location
bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

#ifdef _WIN32
const char kExeName[] = "test_platform.exe";
#else
const char kExeName[] = "test_platform";
#endif

TEST(PlatformLocation, ProcessAndModuleFacts) {
  bool isNt = false;
  EXPECT_TRUE(QueryNtFamily(&isNt));
  EXPECT_TRUE(isNt);
  EXPECT_FALSE(QueryNtFamily(nullptr));

  const std::string exe = HostExecutablePath();
  EXPECT_TRUE(EndsWith(exe, std::string(1, PathSeparator()) + kExeName)) << exe;
  EXPECT_EQ(ModuleBaseName(), "test_platform");
  EXPECT_NE(ProcessCommandLine().find("test_platform"), std::string::npos) << ProcessCommandLine();

  std::string appData;
  ASSERT_TRUE(GetUserAppDataFolder(&appData));
  EXPECT_FALSE(appData.empty());
  EXPECT_NE(appData.back(), PathSeparator()) << appData;
}

#ifndef _WIN32
// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(PlatformLocation, StoreInUsersFolderFromEnvironment) {
  {
    ScopedEnv env("QRX_STORE_IN_USERS_FOLDER", nullptr);
    EXPECT_EQ(ReadStoreInUsersFolder(), 0u);
  }
  const struct {
    const char* value;
    uint32_t expected;
  } cases[] = {{"", 0}, {"0", 0}, {"1", 1}, {"42", 42}, {"abc", 0}, {"7x", 7}};
  for (const auto& c : cases) {
    ScopedEnv env("QRX_STORE_IN_USERS_FOLDER", c.value);
    EXPECT_EQ(ReadStoreInUsersFolder(), c.expected) << "\"" << c.value << "\"";
  }
}

TEST(PlatformLocation, AppDataFolderFromEnvironment) {
  std::string folder;
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/cfg/");
    ASSERT_TRUE(GetUserAppDataFolder(&folder));
    EXPECT_EQ(folder, "/srv/cfg");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", "/home/viewer");
    ASSERT_TRUE(GetUserAppDataFolder(&folder));
    EXPECT_EQ(folder, "/home/viewer/.config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "");
    ScopedEnv home("HOME", nullptr);
    EXPECT_FALSE(GetUserAppDataFolder(&folder));
  }
}
#endif

}  // namespace
}  // namespace platform
}  // namespace qrx
