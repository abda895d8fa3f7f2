#include "tools/cli.h"

#include <gtest/gtest.h>

namespace tavsn::cli {
namespace {

struct CliRun {
  int code;
  std::string out, err;
};

CliRun RunWith(const std::vector<std::string>& args, const MachineReader& reader = nullptr) {
  CliRun run;
  run.code = RunCli(args, run.out, run.err, reader);
  return run;
}

TEST(CliTest, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--frobnicate"},
      {"decode"},
      {"verify"},
      {"verify", "TQ1101020011263744550B3B2B5B4B7B", "TQ1101020011263744550B3B2B5B4B7B"},
      {"verify", "TQ1101020011263744550B3B2B5B4B7B", "--mac"},
      {"verify", "TQ1101020011263744550B3B2B5B4B7B", "--mac", "0A1B2C3D4E5F", "--serial", "X"},
      {"verify", "TQ1101020011263744550B3B2B5B4B7B", "--mac", "0A1B2C3D4E5F", "--mac-source", "7"},
      {"verify", "TQ1101020011263744550B3B2B5B4B7B", "--mac", "0A1B2C3D4E5F", "--list-order", "up"},
      {"verify", "TQ1101020011263744550B3B2B5B4B7B", "--mac", "not-a-mac"},
      {"verify", "TQ1221000A1B7B480E00B8FF26006C9C", "--serial", "A", "--serial", "B"},
      {"verify", "TQ1221000A1B7B480E00B8FF26006C9C", "--mac-source", "1"},
      {"compare", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"compare", "TQ1221000A1B7B480E00B8FF26006C9C", "TQ1221000A1B7B480E00B8FF26006C9C", "--must-keep", "cpu"},
      {"compare", "TQ1221000A1B7B480E00B8FF26006C9C", "TQ1221000A1B7B480E00B8FF26006C9C", "--max-changed", "-1"},
      {"compare", "TQ1221000A1B7B480E00B8FF26006C9C", "TQ1221000A1B7B480E00B8FF26006C9C", "--max-changed", ""},
      {"decode", "--trace", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"--mac", "0A1B2C3D4E5F"},
      {"a.dll", "b.dll"},
      {},  // no machine reader here
      {"registry"},
      {"registry", "check-out", "--db", "x.db"},
      {"registry", "check-in", "--scope", "L", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"registry", "check-in", "--db", "x.db", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"registry", "check-in", "--db", "x.db", "--scope", "L"},
      {"registry", "check-in", "--db", "x.db", "--scope", "L", "--seats", "many", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"registry", "check-in", "--db", "x.db", "--scope", "L", "--time", "1 pm", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"registry", "check-in", "--db", "x.db", "--db", "y.db", "--scope", "L", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"registry", "identify", "--db", "x.db"},
      {"registry", "identify", "--db", "x.db", "--seats", "3", "TQ1221000A1B7B480E00B8FF26006C9C"},
      {"registry", "history", "--db", "x.db", "first"},
      {"registry", "import", "--db", "x.db"},
      {"registry", "audit", "--db", "no-engine://x"},
      {"decode", "--db", "x.db", "TQ1221000A1B7B480E00B8FF26006C9C"},
  };
  for (const auto& args : cases) {
    const CliRun run = RunWith(args);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(run.code, kExitUsage) << line;
    EXPECT_FALSE(run.err.empty()) << line;
  }
}

TEST(CliTest, HelpHasAnExampleOfEachCommand) {
  const CliRun run = RunWith({"--help"});
  EXPECT_EQ(run.code, kExitOk);
  for (const char* piece : {"tavsn decode TQ", "tavsn verify TQ", "compare TQ", "tavsn.exe --trace", "Exit codes",
                            "tavsn registry check-in", "19 registry"}) {
    EXPECT_NE(run.out.find(piece), std::string::npos) << piece;
  }
}

MachineReport FakeMachine() {
  MachineReport report;
  report.calls = {
      {"GetMacSN", true, 32, "TQ110001001126374455110037265544"},
      {"GetPCSN", true, 2, "TQ1223000A1B7B480000000026006C9C"},
      {"GetPCSNEx", true, 2, "TQ1223000A1B7B480E00B6FF26006C9C"},
      {"tav_get_pc_id_ex", true, -1, ""},
      {"tav_get_pc_id_info", false, 0, ""},
  };
  report.facts.firmware_serial = "Default string";
  report.facts.wow64 = true;
  report.facts.single_threaded_apartment = true;
  report.trace_log = "     100: GetPCSNEx start.";
  return report;
}

TEST(CliTest, MachineReportShowsCallsDecodesAndWarnings) {
  const std::string text = FormatMachineReport(FakeMachine(), false);
  for (const char* piece :
       {"GetPCSN              TQ1223000A1B7B480000000026006C9C   (return code 2)",
        "MAC address from a sequential UUID's node", "made by: GetPCSN (firmware not read)", "made by: GetPCSNEx",
        "record checksum 0xFFB6: verifies", "tav_get_pc_id_ex     -                                  (return code -1)",
        "tav_get_pc_id_info   not exported", "warning [firmware_placeholder]", "warning [mac_fallback]: GetPCSN",
        "warning [mac_fallback]: GetPCSNEx", "warning [firmware_not_read]", "warning [wow64]",
        "warning [single_threaded_apartment]", "--- tavsn.log ---\n     100: GetPCSNEx start.\n"}) {
    EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
  }
  const std::string json = FormatMachineReport(FakeMachine(), true);
  for (const char* piece : {"\"export\":\"GetPCSN\",\"exported\":true,\"return_code\":2", "\"code\":\"wow64\"",
                            "\"trace\":\"     100: GetPCSNEx start.\""}) {
    EXPECT_NE(json.find(piece), std::string::npos) << piece << "\n" << json;
  }
}

TEST(CliTest, MachineModePassesPathAndTraceToTheReader) {
  MachineOptions seen;
  const MachineReader reader = [&](const MachineOptions& options, MachineReport& report, std::string&) {
    seen = options;
    report = FakeMachine();
    return true;
  };
  const CliRun run = RunWith({"--trace", "C:\\app\\tavsn.dll"}, reader);
  EXPECT_EQ(run.code, kExitOk);
  EXPECT_EQ(seen.dll_path, "C:\\app\\tavsn.dll");
  EXPECT_TRUE(seen.trace);
  EXPECT_EQ(RunWith({}, reader).code, kExitOk);
  EXPECT_EQ(seen.dll_path, "tavsn.dll");
  EXPECT_FALSE(seen.trace);

  const MachineReader failing = [](const MachineOptions&, MachineReport&, std::string& error) {
    error = "cannot load tavsn.dll: error 126";
    return false;
  };
  const CliRun failed = RunWith({}, failing);
  EXPECT_EQ(failed.code, kExitNoLibrary);
  EXPECT_NE(failed.err.find("error 126"), std::string::npos);
}

}  // namespace
}  // namespace tavsn::cli
