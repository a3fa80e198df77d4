// Connecting units: the statuses of a connect, devices, names taken from the
// command line or asked for, whole buffer loads, and write failures with
// their reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "textio/layer_state.h"

namespace {

using test_support::ReadFileBytes;
using test_support::RunInChild;
using test_support::RunOptions;

int Open(int unit, const std::string& name, const char* action) {
  return textio::OpenUnit(unit, name.data(), static_cast<int>(name.size()), action, true);
}

void Place(int unit, const std::string& bytes) {
  textio::UnitRecord* record = textio::SelectUnit(unit, textio::StatementKind::Write);
  textio::BeginStatement(textio::StatementKind::Write, record);
  textio::PlaceBytes(*record, bytes.data(), bytes.size());
}

class Units : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = test_support::MakeTemporaryDirectory();
    std::filesystem::create_directory(directory_ + "/folder");
    textio::ResetLayer();
    textio::InitUnits(0, nullptr);
  }
  void TearDown() override {
    textio::ResetLayer();
    test_support::RemoveTree(directory_);
  }
  std::string Path(const std::string& name) const { return directory_ + "/" + name; }
  std::string directory_;
};

// Where the system has devices of the names that the layer knows (PRN,
// LPT1, COM1), names that hold one are devices; elsewhere they are files.
enum class Systems : uint8_t { All, WithoutDevices, WithDevices };

struct ConnectCase {
  const char* name;  // in the test's directory, which is the working directory
  const char* action;
  int status;
  bool fileMade;
  Systems systems = Systems::All;
  const char* listedAs = nullptr;  // the file made, when its folder lists it by another name
};

class ConnectStatus : public Units, public testing::WithParamInterface<ConnectCase> {
 protected:
  void SetUp() override {
    Units::SetUp();
    std::filesystem::current_path(directory_);
  }
  void TearDown() override {
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    Units::TearDown();
  }
};

TEST_P(ConnectStatus, GivesTheStatusOfItsCause) {
  const ConnectCase& c = GetParam();
  bool devices = textio::platform::DevicePath("COM1") != nullptr;
  if (c.systems == (devices ? Systems::WithoutDevices : Systems::WithDevices)) {
    GTEST_SKIP() << (devices ? "a device on this system" : "no such device on this system");
  }
  EXPECT_EQ(Open(1, c.name, c.action), c.status);
  // Listed in its folder: a name the system takes as a device always "exists".
  std::filesystem::path path(c.name);
  std::filesystem::path listed = c.listedAs != nullptr ? c.listedAs : path.filename();
  bool made = false;
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(directory_ / path.parent_path(), missing)) {
    made = made || entry.path().filename() == listed;
  }
  EXPECT_EQ(made, c.fileMade) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConnectStatus,
    testing::Values(ConnectCase{"folder", "read", textio::OpenAccessDenied, true},
                    ConnectCase{"folder", "write", textio::OpenAccessDenied, true},
                    ConnectCase{"missing/data.txt", "read", textio::FileNotFound, false},
                    ConnectCase{"missing/data.txt", "write", textio::FileNotFound, false},
                    ConnectCase{"new.txt", "read", 0, true}, ConnectCase{"new.txt", "WRITE  ", 0, true},
                    ConnectCase{"new.txt", "readwrite", 0, true},
                    ConnectCase{"new.txt", "reading", textio::OpenInvalidName, false}));

// The console, standard error and the null device, by name, with or without
// an extension: names starting E, L or U with one are ordinary files.
INSTANTIATE_TEST_SUITE_P(
    Devices, ConnectStatus,
    testing::Values(ConnectCase{"CON", "read", 0, false}, ConnectCase{"con.", "write", 0, false},
                    ConnectCase{"Con.txt", "write", 0, false}, ConnectCase{"USER", "read", 0, false},
                    ConnectCase{"user.", "read", 0, false}, ConnectCase{"USER.TXT", "write", 0, true},
                    ConnectCase{"ERR", "write", 0, false}, ConnectCase{"err.", "write", 0, false},
                    ConnectCase{"err.dat", "write", 0, true}, ConnectCase{"NUL", "write", 0, false},
                    ConnectCase{"nul.", "read", 0, false}, ConnectCase{"nul.out", "read", 0, false},
                    ConnectCase{"conx", "write", 0, true}, ConnectCase{"co.n", "write", 0, true}));

INSTANTIATE_TEST_SUITE_P(
    Ports, ConnectStatus,
    testing::Values(ConnectCase{"PRN", "write", 0, true, Systems::WithoutDevices},
                    ConnectCase{"lpt1", "write", 0, true, Systems::WithoutDevices},
                    ConnectCase{"LPT4.", "write", 0, true, Systems::WithoutDevices},
                    ConnectCase{"COM1", "read", 0, true, Systems::WithoutDevices},
                    ConnectCase{"com1.txt", "read", 0, true, Systems::WithoutDevices},
                    ConnectCase{"aux.dat", "read", 0, true, Systems::WithoutDevices},
                    ConnectCase{"line.csv", "read", 0, true, Systems::WithoutDevices},
                    ConnectCase{"lpt1.txt", "write", 0, true}));

// Names that the system itself reserves for a device go to that device as
// its own open takes them, and no file of such a name is made; only a whole
// name of LPT1 to LPT4 and one extension is the file the layer makes it.
// Trailing dots are dropped as the system drops them. (No printer port
// opens under Wine.)
INSTANTIATE_TEST_SUITE_P(
    SystemDevices, ConnectStatus,
    testing::Values(ConnectCase{"folder/NUL", "write", 0, false, Systems::WithDevices},
                    ConnectCase{"nul.txt.", "write", 0, false, Systems::WithDevices},
                    ConnectCase{"lpt1.txt.", "write", 0, true, Systems::WithDevices, "lpt1.txt"},
                    ConnectCase{"lpt1.a.b", "write", textio::FileNotFound, false, Systems::WithDevices},
                    ConnectCase{"folder/lpt1.txt", "write", textio::FileNotFound, false, Systems::WithDevices}));

TEST_F(Units, BuffersAreWrittenInWholeLoadsAndTheRestAtDisconnect) {
  ASSERT_EQ(Open(2, Path("out.txt"), "write"), 0);
  std::string record(3709, 'r');
  record += "\r\n";
  Place(2, record);
  size_t written = ReadFileBytes(Path("out.txt"))->size();
  EXPECT_TRUE(written > 0 && written % 1024 == 0 && written < record.size()) << written;
  textio::CloseUnit(2);
  EXPECT_EQ(ReadFileBytes(Path("out.txt")), record);
}

TEST_F(Units, FileWithoutPermissionIsRefusedToAnOrdinaryUser) {
  RunOptions options;
  options.unprivileged = true;
  options.directory = directory_;
  if (const char* reason = test_support::WhyUnsupported(options)) GTEST_SKIP() << reason;
  test_support::WriteFileBytes(Path("locked.txt"), "1\n");
  std::filesystem::permissions(Path("locked.txt"), std::filesystem::perms::none);
  auto result = RunInChild(
      [] {
        textio::ResetLayer();
        textio::InitUnits(0, nullptr);
        bool refused = Open(1, "locked.txt", "read") == textio::OpenAccessDenied &&
                       Open(2, "locked.txt", "write") == textio::OpenAccessDenied;
        return refused ? 0 : 3;
      },
      options);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
}

// Another opener that shares the file with no one keeps it from this one.
TEST_F(Units, FileHeldWithoutSharingIsRefused) {
  test_support::WriteFileBytes(Path("held.txt"), "1\n");
  auto held = test_support::HoldWithoutSharing(Path("held.txt"));
  if (held == nullptr) GTEST_SKIP() << "files cannot be held without sharing on this system";
  EXPECT_EQ(Open(1, Path("held.txt"), "read"), textio::OpenAccessDenied);
  EXPECT_EQ(Open(2, Path("held.txt"), "write"), textio::OpenAccessDenied);
}

struct WriteFailureCase {
  bool atDisconnect;
  const char* statement;
};

class WriteFailures : public Units, public testing::WithParamInterface<WriteFailureCase> {};

// No byte is dropped silently: a failed load is reported, the run ends with
// status 1, and the units after it are still written out.
TEST_P(WriteFailures, AreReportedAndEndTheRunWithStatusOne) {
  const WriteFailureCase& c = GetParam();
  const std::string full = test_support::FullDiskPath();
  if (full.empty()) GTEST_SKIP() << "no file here whose writes fail for want of space";
  RunOptions options;
  options.directory = directory_;
  auto result = RunInChild(
      [&] {
        textio::ResetLayer();
        textio::InitUnits(0, nullptr);
        if (Open(2, full, "write") != 0 || Open(3, "after.txt", "write") != 0) return 3;
        Place(3, "kept\r\n");
        Place(2, std::string(c.atDisconnect ? 100 : 1025, 'x'));
        textio::ExitRun(0);
      },
      options);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError, std::string("\r\nrun-time error F6422: ") + c.statement + "(" + full +
                                      ")\r\n- write failed: no space left on device\r\n");
  EXPECT_EQ(ReadFileBytes(directory_ + "/after.txt"), "kept\r\n");
}

INSTANTIATE_TEST_SUITE_P(DiskFull, WriteFailures,
                         testing::Values(WriteFailureCase{true, "CLOSE"}, WriteFailureCase{false, "WRITE"}));

struct ClosedPipeCase {
  bool record;  // a record written to the console, else a console line
  int exitStatus;
  const char* report;
};

class ClosedPipe : public Units, public testing::WithParamInterface<ClosedPipeCase> {};

// A closed standard input is taken by the null device at start-up, so no
// file takes its handle and it reads as empty. On an output pipe whose
// reader has gone a console line is lost and the run goes on; a record, the
// run's product, is a reported write failure.
TEST_P(ClosedPipe, LosesConsoleLinesButNeverRecords) {
  const ClosedPipeCase& c = GetParam();
  RunOptions options;
  options.directory = directory_;
  options.inputClosed = true;
  options.outputReaderGone = true;
  auto result = RunInChild(
      [&] {
        textio::ResetLayer();
        textio::InitUnits(0, nullptr);
        if (Open(1, "data.txt", "write") != 0 || Open(2, "CON", "write") != 0) return 3;
        if (textio::SelectUnit(1, textio::StatementKind::Read)->handle < 3) return 4;
        char byte = 0;
        size_t got = 1;
        if (textio::platform::ReadOnce(0, &byte, 1, got) != textio::platform::Cause::None || got != 0) return 5;
        if (c.record) {
          textio::beginWrite(2, "(I3)", 4);
          textio::writeInteger(7);
        } else {
          textio::beginWrite();
          textio::writeCharacter("lost", 4);
        }
        textio::endWrite();
        return 0;
      },
      options);
  EXPECT_EQ(result.exitStatus, c.exitStatus);
  EXPECT_EQ(result.standardError, c.report);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, ClosedPipe,
    testing::Values(ClosedPipeCase{false, 0, ""},
                    ClosedPipeCase{true, 1, "\r\nrun-time error F6423: WRITE(CON)\r\n- write failed: the reading end is closed\r\n"}));

}  // namespace
