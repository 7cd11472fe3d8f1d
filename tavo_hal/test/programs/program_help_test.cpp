// Every program answers -h and --help with its usage on standard output and
// status 0, starting nothing: no bus participant, no file, no ROS node (the
// ROS master they would wait for is not there). A bad option is one line on
// standard error and status 2.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "node_config.h"

namespace {

using namespace std::chrono_literals;

const char* const kPrograms[] = {"tavo_node", "tavo_teleoperation", "topic_check", "body_sim",   "mcu_sim",
                                 "demo_view", "mcu_updater",        "can_watch",   "can_record", "can_replay"};

size_t entries_in(const std::string& dir) {
  size_t count = 0;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  while (const dirent* entry = readdir(d))
    count += std::string(entry->d_name) != "." && std::string(entry->d_name) != "..";
  closedir(d);
  return count;
}

// Runs `program args` in an empty directory, on an empty private bus and
// with a ROS master nobody serves; returns the exit status (-1: still running after 10 s).
struct ProgramRun {
  TempDir work, bus;
  std::unique_ptr<ChildProcess> child;
  int status;
  ProgramRun(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess::Options options;
    options.workdir = work.path();
    options.env = {{"TAVO_VIRTUAL_CAN_DIR", bus.path()},
                   {"ROS_MASTER_URI", "http://127.0.0.1:" + std::to_string(free_loopback_port())}};
    child = std::make_unique<ChildProcess>(tavo_program(program), args, options);
    status = child->wait(10s);
  }
};

size_t lines_in(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += c == '\n';
  return count;
}

class ProgramHelp : public testing::TestWithParam<const char*> {};

TEST_P(ProgramHelp, PrintsItsUsageAndStartsNothing) {
  const std::string program = GetParam();
  for (const char* word : {"--help", "-h"}) {
    ProgramRun run(program, {word});
    EXPECT_EQ(run.status, 0) << program << " " << word << ": " << run.child->err();
    EXPECT_EQ(run.child->out().rfind("usage: " + program, 0), 0u) << program << " " << word << ": " << run.child->out();
    EXPECT_EQ(entries_in(run.bus.path()), 0u) << program << " " << word << " joined the bus";
    EXPECT_EQ(entries_in(run.work.path()), 0u) << program << " " << word << " wrote a file";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, ProgramHelp, testing::ValuesIn(kPrograms));

TEST(ProgramHelp, NodesNameEveryParameterOfTheProductFile) {
  ProgramRun run("tavo_node", {"--help"});
  ASSERT_EQ(run.status, 0);
  for (const auto& [name, value] : product_params("osprey", "osprey"))
    EXPECT_NE(run.child->out().find("~" + name + " "), std::string::npos) << name;
  EXPECT_NE(run.child->out().find("~diagnostic_period "), std::string::npos);
}

// Programs whose bad options no other test covers, each given one it does not know.
class ProgramBadOption : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ProgramBadOption, IsOneLineOnStandardErrorAndStatus2) {
  const std::vector<std::string> words = GetParam();
  ProgramRun run(words[0], std::vector<std::string>(words.begin() + 1, words.end()));
  EXPECT_EQ(run.status, 2) << words[0];
  EXPECT_EQ(lines_in(run.child->err()), 1u) << words[0] << ": " << run.child->err();
  EXPECT_EQ(run.child->out(), "") << words[0];
  EXPECT_EQ(entries_in(run.bus.path()), 0u) << words[0] << " joined the bus";
}

INSTANTIATE_TEST_SUITE_P(EveryProgramWithOptions, ProgramBadOption,
                         testing::Values(std::vector<std::string>{"demo_view", "--bogus", "1"},
                                         std::vector<std::string>{"can_watch", "--bogus"},
                                         std::vector<std::string>{"mcu_updater", "--batch", "--bogus", "x.bin",
                                                                  "291"}));

}  // namespace
