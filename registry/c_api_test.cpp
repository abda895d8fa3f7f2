// The registry's C API: outputs set on every path, errors by code, no
// exception across it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

#include "tavsn_registry.h"

namespace {

const char kEx[] = "TQ1221000A1B7B480E00B8FF26006C9C";
const char kExOtherCpu[] = "TQ1221000A1B7B480E0068882400BF13";

class RegistryCApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("tavsn_c_api_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    location_ = "sqlite:" + (folder_ / "r.db").string();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path folder_;
  std::string location_;
};

TEST_F(RegistryCApiTest, ChecksInAndIdentifies) {
  tavsn_registry* r = nullptr;
  ASSERT_EQ(tavsn_registry_open(location_.c_str(), 0, &r), TAVSN_SERVER_OK);
  const char* texts[] = {kEx};
  const size_t lengths[] = {32};
  tavsn_check_in result;
  ASSERT_EQ(tavsn_registry_check_in(r, "L\0x", 3, texts, lengths, 1, 1800000000, 1, &result), TAVSN_SERVER_OK);
  EXPECT_EQ(result.outcome, TAVSN_CHECK_IN_ACTIVATED);
  EXPECT_EQ(result.machine, 1);
  EXPECT_EQ(result.seats, 1);
  const char* other[] = {kExOtherCpu};
  ASSERT_EQ(tavsn_registry_check_in(r, "L\0x", 3, other, lengths, 1, 1800000060, -1, &result), TAVSN_SERVER_OK);
  EXPECT_EQ(result.outcome, TAVSN_CHECK_IN_NO_SEAT);
  EXPECT_EQ(result.decided_by, TAVSN_DECIDED_BY_OVERLAP);
  ASSERT_EQ(result.candidate_count, 1u);
  EXPECT_EQ(result.candidates[0].scope_length, 3u);
  EXPECT_EQ(std::string(result.candidates[0].scope, 3), std::string("L\0x", 3));

  tavsn_identification found;
  ASSERT_EQ(tavsn_registry_identify(r, texts, lengths, 1, &found), TAVSN_SERVER_OK);
  ASSERT_EQ(found.machine_count, 1u);
  EXPECT_EQ(found.machines[0].verdict, TAVSN_SAME_MACHINE);
  const char* broken[] = {"TQ12"};
  const size_t broken_length[] = {4};
  EXPECT_EQ(tavsn_registry_identify(r, broken, broken_length, 1, &found), TAVSN_SERVER_ERROR_NOT_DLL_RECORD);
  EXPECT_EQ(found.machine_count, 0u);
  tavsn_registry_close(r);
}

int CollectLine(void* context, const char* line, size_t length) {
  auto* lines = static_cast<std::vector<std::string>*>(context);
  lines->emplace_back(line, length);
  return lines->size() == 2 ? 77 : TAVSN_SERVER_OK;  // the caller's own reason to stop
}

void CountProgress(void* context, const tavsn_import_totals* totals) {
  *static_cast<long long*>(context) = totals->lines;
}

TEST_F(RegistryCApiTest, HistoryAuditExportAndImport) {
  tavsn_registry* r = nullptr;
  ASSERT_EQ(tavsn_registry_open(location_.c_str(), 0, &r), TAVSN_SERVER_OK);
  const char* texts[] = {kEx};
  const size_t lengths[] = {32};
  tavsn_check_in result;
  ASSERT_EQ(tavsn_registry_check_in(r, "L", 1, texts, lengths, 1, 1800000000, -1, &result), TAVSN_SERVER_OK);

  char json[2048];
  size_t length = 99;
  ASSERT_EQ(tavsn_registry_history(r, 1, json, sizeof json, &length), TAVSN_SERVER_OK);
  EXPECT_EQ(length, std::strlen(json));
  EXPECT_EQ(std::string(json).rfind(R"({"machine":1,"scope":"L","activated":")", 0), 0u) << json;
  char small[8] = "unset";
  EXPECT_EQ(tavsn_registry_history(r, 1, small, sizeof small, &length), TAVSN_REGISTRY_ERROR_TOO_SMALL);
  EXPECT_EQ(length, std::strlen(json));
  EXPECT_STREQ(small, "");
  EXPECT_EQ(tavsn_registry_history(r, 2, json, sizeof json, &length), TAVSN_REGISTRY_ERROR_NO_MACHINE);
  EXPECT_EQ(tavsn_registry_history(r, 1, nullptr, 0, nullptr), TAVSN_SERVER_ERROR_NULL);
  ASSERT_EQ(tavsn_registry_audit(r, json, sizeof json, &length), TAVSN_SERVER_OK);
  EXPECT_STREQ(json, R"({"machines":1,"scopes":1,"one_machine_under_several_scopes":[],"alternating":[]})");

  std::vector<std::string> lines;
  EXPECT_EQ(tavsn_registry_export(r, CollectLine, &lines), 77);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "scope,machine,identifier,first_seen,last_seen");
  EXPECT_EQ(lines[1], std::string("L,1,") + kEx + ",2027-01-15T08:00:00Z,2027-01-15T08:00:00Z");

  const std::string csv = (folder_ / "old.csv").string();
  FILE* file = std::fopen(csv.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fprintf(file, "scope,identifier,time\nM,%s,1800000000\nM,nonsense\n", kExOtherCpu);
  std::fclose(file);
  tavsn_import_totals totals;
  long long seen = 0;
  ASSERT_EQ(tavsn_registry_import(r, csv.c_str(), CountProgress, &seen, &totals), TAVSN_SERVER_OK);
  EXPECT_EQ(totals.lines, 3);
  EXPECT_EQ(totals.imported, 1);
  EXPECT_EQ(totals.refused, 1);
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(tavsn_registry_import(r, (folder_ / "none.csv").c_str(), nullptr, nullptr, &totals),
            TAVSN_REGISTRY_ERROR_FILE);
  EXPECT_EQ(totals.lines, 0);
  tavsn_registry_close(r);
}

TEST_F(RegistryCApiTest, ErrorsAreCodes) {
  tavsn_registry* r = reinterpret_cast<tavsn_registry*>(1);
  EXPECT_EQ(tavsn_registry_open(nullptr, 0, &r), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(tavsn_registry_open(location_.c_str(), 64, &r), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(tavsn_registry_open(location_.c_str(), TAVSN_REGISTRY_READ_ONLY, &r), TAVSN_REGISTRY_ERROR_NOT_FOUND);
  EXPECT_EQ(tavsn_registry_open("mysql://h/db", 0, &r), TAVSN_REGISTRY_ERROR_BAD_LOCATION);
  const std::string garbage = (folder_ / "garbage").string();
  FILE* file = std::fopen(garbage.c_str(), "w");
  ASSERT_NE(file, nullptr);
  for (int i = 0; i < 200; ++i) std::fputs("not a database ", file);
  std::fclose(file);
  EXPECT_EQ(tavsn_registry_open(garbage.c_str(), 0, &r), TAVSN_REGISTRY_ERROR_DAMAGED);
  EXPECT_STRNE(tavsn_registry_error_text(TAVSN_REGISTRY_ERROR_BUSY), tavsn_registry_error_text(-999));
  tavsn_check_in result;
  result.outcome = 99;
  EXPECT_EQ(tavsn_registry_check_in(nullptr, "L", 1, nullptr, nullptr, 0, 0, -1, &result), TAVSN_SERVER_ERROR_NULL);
  EXPECT_EQ(result.outcome, 0);
  ASSERT_EQ(tavsn_registry_open(location_.c_str(), 0, &r), TAVSN_SERVER_OK);
  EXPECT_EQ(tavsn_registry_check_in(r, "L", 1, nullptr, nullptr, 0, 0, -2, &result), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(tavsn_registry_set_windows(r, 10, 20), TAVSN_SERVER_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(tavsn_registry_set_windows(r, 20, 10), TAVSN_SERVER_OK);
  tavsn_registry_close(r);
  tavsn_registry_close(nullptr);
}

}  // namespace
