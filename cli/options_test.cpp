// The runner's command line: what it accepts, converts and refuses.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>

namespace veskor {
namespace {

TEST(CommandLine, SingleTaskOptions) {
  const CliOptions o =
      ParseCommandLine({"--algo", "XOR8", "--key=$41", "--alphabet", "\xD0\xB0\xD0\xB1", "--min",
                        "3", "--max=200", "--format", "%s", "--stdout", "file.bin"});
  EXPECT_EQ(o.algorithm, "XOR8");
  EXPECT_EQ(o.key, "$41");
  EXPECT_EQ(o.alphabet, "\xE0\xE1");  // UTF-8 "аб" taken to Windows-1251
  EXPECT_EQ(o.min_length, 3);
  EXPECT_EQ(o.max_length, 200);
  EXPECT_EQ(o.format, "%s");
  EXPECT_TRUE(o.to_stdout);
  EXPECT_EQ(o.files, std::vector<std::string>{"file.bin"});
  EXPECT_EQ(o.jobs, 0);  // every core
  EXPECT_EQ(ParseCommandLine({"--jobs", "8", "f"}).jobs, 8);
}

TEST(CommandLine, DefaultsAndFileOptionsKeepBytes) {
  const std::string path = ::testing::TempDir() + "alphabet.bin";
  std::ofstream(path, std::ios::binary) << std::string("\x01\xFF\r\n", 4);
  const CliOptions o = ParseCommandLine({"--algo", "NONE", "--alphabet-file", path, "--", "-x"});
  EXPECT_EQ(o.alphabet, std::string("\x01\xFF\r\n", 4));
  EXPECT_EQ(o.min_length, 7);
  EXPECT_EQ(o.max_length, 0);
  EXPECT_FALSE(o.key.has_value());
  EXPECT_EQ(o.files, std::vector<std::string>{"-x"});
  std::remove(path.c_str());
}

TEST(CommandLine, Refused) {
  const std::vector<std::vector<std::string>> cases = {
      {"--algo", "XOR8", "--alphabet", "1"},                       // no FILE
      {"--algo", "XOR8", "f"},                                     // no alphabet
      {"--bogus", "f"},                                            // unknown option
      {"--algo", "XOR8", "--alphabet", "1", "--min", "256", "f"},  // out of range
      {"--algo", "XOR8", "--alphabet", "1", "--max", "-1", "f"},
      {"--algo", "XOR8", "--alphabet", "1", "--min", "x", "f"},
      {"--algo", "XOR8", "--alphabet", std::string(256, 'a'), "f"},
      {"--algo"},  // value missing
      {"--stdout=yes", "f"},
      {"--key", "1", "f"},  // --key without --algo
      {"--jobs", "0", "f"},
      {"--jobs", "1025", "f"},
      {"--algo", "XOR8", "--alphabet", "1", "--stdout", "--summary", "f"},  // two outputs
      {"--algo", "XOR8", "--preset", "P", "--alphabet", "1", "f"},  // a preset and its fields
      {"--algo", "XOR8", "--preset", "P", "--regexp", "1", "f"},
      {"--json", "--stdout", "f"},       // two outputs
      {"--json", "--top", "3", "f"},     // --top ranks keys: it needs --summary
      {"--summary", "--top", "3", "f"},  // and only limits records
      {"--json", "--summary", "--top", "0", "f"},
      {"--null", "f"},  // --null reads a list
      {"--max-size", "-1", "f"},
      {"--max-size", "1k", "f"},
      {"--json"},                 // no FILE, no list
      {"--json", "--yara", "f"},  // rules come of the ranked keys
      {"--timeout", "0", "f"},
      {"--timeout", "-1", "f"},
      {"--timeout", "1e3", "f"},
      {"--timeout", "nan", "f"},
      {"--timeout", "2s", "f"},
      {"--skip-done", "out.jsonl"},  // resumes a batch: FILE still needed
  };
  for (const auto& args : cases) {
    EXPECT_THROW(ParseCommandLine(args), UsageError) << args[0];
  }
}

TEST(CommandLine, ManyFiles) {
  const CliOptions o =
      ParseCommandLine({"--json", "--summary", "--top=3", "--recursive", "--max-size", "1048576",
                        "--files-from", "-", "--null", "a", "--", "--b"});
  EXPECT_EQ(o.files, (std::vector<std::string>{"a", "--b"}));
  EXPECT_TRUE(o.json && o.summary && o.recursive && o.null_separated);
  EXPECT_EQ(o.top, 3);
  EXPECT_EQ(o.files_from, "-");
  EXPECT_EQ(o.max_size, 1048576u);
  EXPECT_FALSE(o.yara);
  EXPECT_TRUE(ParseCommandLine({"--summary", "--yara", "f"}).yara);
  const CliOptions resumed = ParseCommandLine({"--skip-done", "out.jsonl", "--timeout=2.5", "a"});
  EXPECT_EQ(resumed.skip_done, "out.jsonl");
  EXPECT_EQ(resumed.timeout, 2.5);
  // A list alone names the files.
  EXPECT_TRUE(ParseCommandLine({"--files-from", "list"}).files.empty());
}

TEST(CommandLine, HelpAndListNeedNoFile) {
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"--list"}).list);
}

// The usage names every option the parser takes, and no other: an option added to one and not
// the other is caught here.
TEST(CommandLine, TheUsageNamesEveryOptionAndNoOther) {
  std::set<std::string> in_usage;
  const std::string usage = UsageText() + HelpText();  // what -h and --help print
  const std::regex option("--[a-z][a-z-]*");
  for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option);
       it != std::sregex_iterator(); ++it) {
    in_usage.insert(it->str());
  }
  std::set<std::string> parsed;
  for (const std::string& name : OptionNames()) parsed.insert(name);
  EXPECT_EQ(in_usage, parsed);
}

}  // namespace
}  // namespace veskor
