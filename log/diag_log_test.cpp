#include "log/diag_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <functional>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/fake_log_platform.h"

namespace tavsn {
namespace {

using fakelog::kLogPath;
using fakelog::state;

constexpr char kBanner[] = "    1000: \r\n------------------ TavSN 2021-03-14 08:15:02 ------------------\r\n";

class DiagLogTest : public ::testing::Test {
 protected:
  void SetUp() override { fakelog::Reset(); }
  void TearDown() override { fakelog::Reset(); }

  static std::string LogText() { return fakelog::ProcessLogText(); }

  // What the lines after the banner wrote, CR LF and prefixes included.
  static std::string AfterBanner() {
    std::string text = LogText();
    EXPECT_EQ(text.rfind(kBanner, 0), 0u) << text;
    return text.substr(std::string(kBanner).size());
  }
};

std::string Prefix(std::uint32_t stamp) {
  char out[16];
  return std::string(out, FormatPrefix(stamp, out, sizeof out));
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// --- Line prefix and pieces --------------------------------------------------

TEST(DiagLogPrefix, RightAlignsTheStampInEightCharactersAndGrowsBeyond) {
  EXPECT_EQ(Prefix(0), "       0: ");
  EXPECT_EQ(Prefix(48211), "   48211: ");
  EXPECT_EQ(Prefix(12345678), "12345678: ");
  EXPECT_EQ(Prefix(99999999), "99999999: ");
  EXPECT_EQ(Prefix(100000000), "100000000: ");  // after about 27.8 hours
  EXPECT_EQ(Prefix(4294967295u), "4294967295: ");
}

TEST(DiagLogPrefix, NeverWritesBeyondASmallBuffer) {
  char out[6];
  std::size_t written = FormatPrefix(4294967295u, out, sizeof out);
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(std::string(out), "42949");
}

TEST_F(DiagLogTest, StampsWrapToSmallValuesAfterFortyNineDays) {
  fakelog::EnableProcessLog();
  state().tick_ms = 4294967295u;
  state().tick_step = 2;
  ProcessLog() << "before wrap" << diag_endl;
  ProcessLog() << "after wrap" << diag_endl;
  EXPECT_EQ(AfterBanner(), "4294967295: before wrap\r\n       1: after wrap\r\n");
}

TEST_F(DiagLogTest, IntegerPiecesAreDecimalWithoutFill) {
  fakelog::EnableProcessLog();
  ProcessLog() << INT_MIN << " " << -1 << " " << 0 << " " << INT_MAX << diag_endl;
  ProcessLog() << 4294967295u << " " << 0u << diag_endl;
  ProcessLog() << -5L << " " << 7UL << diag_endl;
  EXPECT_EQ(AfterBanner(),
            "    1000: -2147483648 -1 0 2147483647\r\n"
            "    1000: 4294967295 0\r\n"
            "    1000: -5 7\r\n");
}

TEST_F(DiagLogTest, LineOfManyPiecesCarriesOnePrefixAndCostsOneWrite) {
  state().tick_step = 1;
  fakelog::EnableProcessLog();
  int writes_before = state().writes;
  int count = 3;
  ProcessLog() << "GetMacSN Mac Count [ " << count << " ]" << diag_endl;
  EXPECT_EQ(AfterBanner(), "    1001: GetMacSN Mac Count [ 3 ]\r\n");
  EXPECT_EQ(state().writes - writes_before, 1);
}

TEST_F(DiagLogTest, PrefixCarriesTheTimeOfTheFirstPiece) {
  fakelog::EnableProcessLog();
  {
    DiagLine line(ProcessLog());
    state().tick_ms = 5000;
    line << "first";
    state().tick_ms = 9000;
    line << " second" << 2;
    state().tick_ms = 12000;
    line << diag_endl;
  }
  EXPECT_EQ(AfterBanner(), "    5000: first second2\r\n");
}

TEST_F(DiagLogTest, EachLineEndStartsANewPrefixedLine) {
  state().tick_step = 10;
  fakelog::EnableProcessLog();
  ProcessLog() << "one" << diag_endl << "two" << 2 << diag_endl;
  EXPECT_EQ(AfterBanner(), "    1010: one\r\n    1020: two2\r\n");
}

TEST_F(DiagLogTest, LineWithoutExplicitEndEndsWithItsStatement) {
  fakelog::EnableProcessLog();
  ProcessLog() << "no end " << 1;
  ProcessLog() << "next";
  EXPECT_EQ(AfterBanner(), "    1000: no end 1\r\n    1000: next\r\n");
}

TEST_F(DiagLogTest, LineEndWithoutPiecesWritesABareNewline) {
  fakelog::EnableProcessLog();
  ProcessLog() << "text" << diag_endl << diag_endl;
  DiagLine(ProcessLog()) << diag_endl;
  EXPECT_EQ(AfterBanner(), "    1000: text\r\n\r\n\r\n");
}

// A piece may carry a machine's text; none of its characters may end the
// line, and every other byte passes unchanged.
TEST_F(DiagLogTest, LineBreaksInsidePiecesBecomeBlanksAndOtherBytesPassUnchanged) {
  fakelog::EnableProcessLog();
  ProcessLog() << "a\nb" << diag_endl;
  ProcessLog() << "Brand [ c\r\n    1234: forged ]" << diag_endl;
  ProcessLog() << "\r" << 7 << "\n" << diag_endl;
  ProcessLog() << "\xE4\xF6\x01\x1A\t\x0B\x0C" << diag_endl;
  EXPECT_EQ(AfterBanner(),
            "    1000: a b\r\n"
            "    1000: Brand [ c      1234: forged ]\r\n"
            "    1000:  7 \r\n"
            "    1000: \xE4\xF6\x01\x1A\t\x0B\x0C\r\n");
}

TEST_F(DiagLogTest, NullOrEmptyTextStillStartsTheLine) {
  fakelog::EnableProcessLog();
  const char* missing = nullptr;
  ProcessLog() << missing << "after null" << diag_endl;
  ProcessLog() << "" << diag_endl;
  ProcessLog() << "still writing" << diag_endl;
  EXPECT_EQ(AfterBanner(), "    1000: after null\r\n    1000: \r\n    1000: still writing\r\n");
}

TEST_F(DiagLogTest, OverlongLineIsCutWithoutOverflow) {
  fakelog::EnableProcessLog();
  std::string piece(1500, 'x');
  std::string newlines(1500, '\n');
  ProcessLog() << piece.c_str() << newlines.c_str() << diag_endl;
  std::string expected = "    1000: " + piece + std::string(DiagLine::kCapacity - piece.size(), ' ') + "\r\n";
  EXPECT_EQ(AfterBanner(), expected);
}

// --- Banner ------------------------------------------------------------------

TEST(DiagLogBanner, IsSixtyFourCharactersWithZeroPaddedFields) {
  char out[80];
  FormatBanner(logos::UtcTime{2009, 1, 2, 3, 4, 5}, out, sizeof out);
  EXPECT_EQ(std::string(out), "\n------------------ TavSN 2009-01-02 03:04:05 ------------------");
  EXPECT_EQ(std::string(out).size(), 64u);
}

TEST_F(DiagLogTest, BannerTakesTwoLinesThePrefixOnlyOneFirst) {
  state().now = logos::UtcTime{2021, 3, 14, 8, 15, 2};
  state().tick_ms = 48211;
  state().tick_step = 2;
  fakelog::EnableProcessLog();
  ProcessLog() << "GetMacSN start." << diag_endl;
  EXPECT_EQ(LogText(),
            "   48211: \r\n"
            "------------------ TavSN 2021-03-14 08:15:02 ------------------\r\n"
            "   48213: GetMacSN start.\r\n");
  EXPECT_EQ(state().writes, 2);  // the banner is one line end, so one write
}

TEST_F(DiagLogTest, BannerIsAppendedAfterEarlierContent) {
  state().files[kLogPath] = "earlier process\r\n";
  OpenDiagLog();
  EXPECT_EQ(LogText(), std::string("earlier process\r\n") + kBanner);
}

// --- Inactive log ------------------------------------------------------------

TEST_F(DiagLogTest, ClosedLogWritesNothingReadsNoClockAndKeepsItsState) {
  OpenDiagLog();  // no file beside the library
  EXPECT_FALSE(ProcessLog().active());
  ProcessLog() << "lost " << 5 << 6u;
  ProcessLog() << "lost" << diag_endl << diag_endl;
  DiagLine(ProcessLog()) << diag_endl;
  EXPECT_TRUE(ProcessLog().at_line_start());
  EXPECT_EQ(state().tick_reads, 0);
  EXPECT_EQ(state().writes, 0);
  EXPECT_TRUE(state().files.empty());
}

TEST_F(DiagLogTest, ActiveLogIsAtLineStartBetweenLines) {
  fakelog::EnableProcessLog();
  EXPECT_TRUE(ProcessLog().at_line_start());
  ProcessLog() << "x";
  EXPECT_TRUE(ProcessLog().at_line_start());
}

// --- Finding and opening -----------------------------------------------------

TEST_F(DiagLogTest, MissingFileIsLookedForAgainAtEachCallAndNeverCreated) {
  OpenDiagLog();
  OpenDiagLog();
  EXPECT_EQ(state().path_checks, 2);
  EXPECT_EQ(state().opens, 0);
  EXPECT_TRUE(state().files.empty());
  ASSERT_EQ(state().checked_paths.size(), 2u);
  EXPECT_EQ(state().checked_paths[0], kLogPath);

  state().files[kLogPath] = "";  // created while the host runs
  OpenDiagLog();
  EXPECT_EQ(state().opens, 1);
  EXPECT_EQ(LogText(), kBanner);

  OpenDiagLog();
  OpenDiagLog();
  EXPECT_EQ(state().path_checks, 3);
  EXPECT_EQ(state().opens, 1);
  EXPECT_EQ(LogText(), kBanner);  // one banner per process
}

TEST_F(DiagLogTest, FoundFileThatCannotBeOpenedSilencesTheLogForGood) {
  for (bool as_directory : {false, true}) {
    fakelog::Reset();
    if (as_directory) {
      state().directories.insert(kLogPath);
    } else {
      state().files[kLogPath] = "kept";
      state().read_only.insert(kLogPath);
    }
    OpenDiagLog();
    EXPECT_EQ(state().opens, 1);
    EXPECT_FALSE(ProcessLog().active());
    ProcessLog() << "dropped" << diag_endl;

    // The cause goes away; the open is still not tried again.
    state().read_only.clear();
    state().directories.clear();
    state().files[kLogPath] = "kept";
    OpenDiagLog();
    ProcessLog() << "dropped too" << diag_endl;
    EXPECT_EQ(state().opens, 1) << "directory: " << as_directory;
    EXPECT_EQ(state().path_checks, 1);
    EXPECT_EQ(LogText(), "kept");
    EXPECT_EQ(state().open_handles, 0);
  }
}

// What the real layer refuses (a hard link, a link, a pipe) is treated as a
// file that cannot be opened, and so is a file gone between look and open:
// nothing is written, nothing is created, and it is not tried again.
TEST_F(DiagLogTest, FileThatIsNoPlainFileOfItsOwnIsLeftUntouched) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool exists_after;
  };
  const Case cases[] = {
      {.name = "not plain", .arrange = [] { state().not_plain.insert(kLogPath); }, .exists_after = true},
      {.name = "vanished",
       .arrange = [] { state().during_open = [] { state().files.erase(kLogPath); }; },
       .exists_after = false},
  };
  for (const Case& c : cases) {
    fakelog::Reset();
    state().files[kLogPath] = "someone else's data";
    c.arrange();
    OpenDiagLog();
    ProcessLog() << "dropped" << diag_endl;
    OpenDiagLog();
    EXPECT_EQ(state().opens, 1) << c.name;
    EXPECT_FALSE(ProcessLog().active()) << c.name;
    EXPECT_EQ(state().files.count(kLogPath) != 0, c.exists_after) << c.name;
    if (c.exists_after) {
      EXPECT_EQ(state().files[kLogPath], "someone else's data") << c.name;
    }
  }
}

// An open can be held up for long (an opportunistic lock on the file):
// another call meanwhile goes on at once, with the log still closed, and
// the open is not made twice.
TEST_F(DiagLogTest, CallDuringAnOpenNeitherWaitsNorOpensAgain) {
  state().files[kLogPath] = "";
  int nested_opens = -1;
  state().during_open = [&nested_opens] {
    std::thread other([] { OpenDiagLog(); });
    other.join();
    nested_opens = state().opens;
  };
  OpenDiagLog();
  EXPECT_EQ(nested_opens, 1);
  EXPECT_EQ(state().opens, 1);
  EXPECT_EQ(state().path_checks, 1);
  EXPECT_EQ(LogText(), kBanner);
}

TEST_F(DiagLogTest, FailedWriteDropsTheRestOfTheProcessLines) {
  fakelog::EnableProcessLog();
  ProcessLog() << "written" << diag_endl;
  state().writes_fail = true;
  ProcessLog() << "fails" << diag_endl;
  state().writes_fail = false;  // the disk has room again
  ProcessLog() << "dropped" << diag_endl;
  OpenDiagLog();
  EXPECT_EQ(AfterBanner(), "    1000: written\r\n");
  EXPECT_EQ(state().writes, 3);  // banner, "written", "fails"; nothing after
}

TEST_F(DiagLogTest, FailedModulePathLeavesTheLogClosedAndIsRetried) {
  state().library_path_fails = true;
  state().files[kLogPath] = "";
  OpenDiagLog();
  EXPECT_EQ(state().path_checks, 0);
  EXPECT_FALSE(ProcessLog().active());
  state().library_path_fails = false;
  OpenDiagLog();
  EXPECT_EQ(LogText(), kBanner);
}

TEST_F(DiagLogTest, ModulePathWithoutBackslashIsKeptWholeBeforeTheName) {
  state().library_path = "tavsn.dll";
  state().files["tavsn.dlltavsn.log"] = "";
  OpenDiagLog();
  ASSERT_EQ(state().checked_paths.size(), 1u);
  EXPECT_EQ(state().checked_paths[0], "tavsn.dlltavsn.log");
  EXPECT_EQ(state().files["tavsn.dlltavsn.log"], kBanner);
}

TEST_F(DiagLogTest, LogPathOfExactlyTwoHundredFiftyNineCharactersIsUsed) {
  std::string folder = "C:\\" + std::string(259 - 3 - 1 - 9, 'd') + "\\";
  std::string log_path = folder + "tavsn.log";
  ASSERT_EQ(log_path.size(), 259u);
  state().library_path = folder + "tavsn.dll";
  state().files[log_path] = "";
  OpenDiagLog();
  EXPECT_EQ(state().files[log_path], kBanner);
}

TEST_F(DiagLogTest, LogPathThatWouldBeCutLeavesEveryFileUntouched) {
  std::string folder = "C:\\" + std::string(260 - 3 - 1 - 9, 'd') + "\\";
  ASSERT_EQ((folder + "tavsn.log").size(), 260u);
  state().library_path = folder + "tavsn.dll";
  // The cut name, "...\tavsn.lo", belongs to some other file.
  std::string cut_path = folder + "tavsn.lo";
  state().files[cut_path] = "someone else's data";
  OpenDiagLog();
  OpenDiagLog();
  EXPECT_EQ(state().opens, 0);
  EXPECT_EQ(state().files[cut_path], "someone else's data");
  EXPECT_FALSE(ProcessLog().active());
}

TEST_F(DiagLogTest, CutModulePathNeverLeadsToAParentFolderLog) {
  // The module's folder name is cut, so its last backslash is the parent's.
  std::string parent = "C:\\" + std::string(200, 'p') + "\\";
  state().library_path = parent + std::string(100, 'f') + "\\tavsn.dll";
  state().files[parent + "tavsn.log"] = "";
  OpenDiagLog();
  EXPECT_EQ(state().opens, 0);
  EXPECT_EQ(state().files[parent + "tavsn.log"], "");
}

// --- Threads -----------------------------------------------------------------

void StartTogether(int count, const std::function<void(int)>& work) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&go, &work, i] {
      while (!go.load()) std::this_thread::yield();
      work(i);
    });
  }
  go.store(true);
  for (auto& thread : threads) thread.join();
}

TEST_F(DiagLogTest, RacingOpensFindAndOpenOnceAndWriteOneBanner) {
  for (int round = 0; round < 20; ++round) {
    fakelog::Reset();
    state().files[kLogPath] = "";
    StartTogether(8, [](int) { OpenDiagLog(); });
    ASSERT_EQ(state().opens, 1);
    ASSERT_EQ(state().path_checks, 1);
    ASSERT_EQ(LogText(), kBanner);
  }
}

TEST_F(DiagLogTest, LinesOfManyThreadsReachTheFileWhole) {
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  state().tick_step = 1;
  fakelog::EnableProcessLog();
  StartTogether(kThreads, [](int thread) {
    for (int line = 0; line < kLines; ++line) {
      ProcessLog() << "thread " << thread << " line " << line << " of " << kLines << " end" << diag_endl;
    }
  });

  std::vector<std::string> lines = SplitCrLf(AfterBanner());
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  std::map<int, int> next_line;
  for (const std::string& text : lines) {
    unsigned stamp = 0;
    int thread = -1, line = -1, total = -1, consumed = 0;
    int fields =
        std::sscanf(text.c_str(), "%8u: thread %d line %d of %d end%n", &stamp, &thread, &line, &total, &consumed);
    ASSERT_EQ(fields, 4) << text;
    ASSERT_EQ(static_cast<std::size_t>(consumed), text.size()) << text;
    ASSERT_EQ(text.substr(0, 10), Prefix(stamp)) << text;
    ASSERT_EQ(total, kLines);
    ASSERT_EQ(line, next_line[thread]++) << "lines of one thread keep their order";
  }
  EXPECT_EQ(next_line.size(), static_cast<std::size_t>(kThreads));
  EXPECT_EQ(state().writes, 1 + kThreads * kLines);
}

}  // namespace
}  // namespace tavsn
