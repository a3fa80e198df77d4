// Connecting units: the statuses of a connect, device names, whole buffer
// loads, files another opener keeps from the layer, and console output to a
// pipe whose reader has gone.
#include <filesystem>
#include <string>
#include <vector>

#include "support/death_test.h"
#include "textio/layer_state.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using test_support::ReadFile;

int Open(int unit, const std::string& name, const char* action) {
  return textio::OpenUnit(unit, name.data(), static_cast<int>(name.size()), action, true);
}

void Start() {
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
}

// A fresh layer working in the test's folder, which holds a folder "folder".
class Units : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = test_support::TestFolder();
    std::filesystem::create_directory(directory_ + "/folder");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(directory_);
    Start();
  }
  void TearDown() override {
    textio::ResetLayer();
    std::filesystem::current_path(previous_);
  }
  std::string directory_;
  std::filesystem::path previous_;
};

// Where the system has devices of the names that the layer knows (PRN,
// LPT1, COM1), names that hold one are devices; elsewhere they are files.
enum class Systems : uint8_t { All, WithoutDevices, WithDevices };

struct ConnectCase {
  const char* name;
  const char* action;
  int status;
  bool fileMade;
  Systems systems = Systems::All;
  const char* listedAs = nullptr;  // the file made, when its folder lists it by another name
};

class ConnectStatus : public Units, public testing::WithParamInterface<ConnectCase> {};

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

// Standard error by name; names starting with E, L or U that have an
// extension are ordinary files.
INSTANTIATE_TEST_SUITE_P(
    Names, ConnectStatus,
    testing::Values(ConnectCase{"folder", "read", textio::OpenAccessDenied, true},
                    ConnectCase{"folder", "write", textio::OpenAccessDenied, true},
                    ConnectCase{"missing/data.txt", "read", textio::FileNotFound, false},
                    ConnectCase{"ERR", "write", 0, false}, ConnectCase{"err.dat", "write", 0, true},
                    ConnectCase{"USER.TXT", "write", 0, true}, ConnectCase{"conx", "write", 0, true},
                    ConnectCase{"lpt1.txt", "write", 0, true},
                    ConnectCase{"PRN", "write", 0, true, Systems::WithoutDevices}));

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

struct LoadCase {
  std::vector<size_t> placings;  // the bytes of each placing, one after the other
  size_t writtenBefore;          // the bytes in the file before the disconnect
};

class Loads : public Units, public testing::WithParamInterface<LoadCase> {};

// The first load holds 1,024 bytes, every later one 256 KiB; a full load is
// written once a byte follows it, the last one at the disconnect, whether
// the bytes came in small placings or in one larger than a load.
TEST_P(Loads, AreWrittenWholeAndTheLastAtDisconnect) {
  ASSERT_EQ(Open(2, "out.txt", "write"), 0);
  textio::UnitRecord* unit = textio::SelectUnit(2, textio::StatementKind::Write);
  textio::BeginStatement(textio::StatementKind::Write, unit);
  std::string placed;
  for (size_t count : GetParam().placings) {
    std::string bytes(count, ' ');
    for (char& c : bytes) c = static_cast<char>('a' + placed.size() % 23), placed += c;
    textio::PlaceBytes(*unit, bytes.data(), bytes.size());
  }
  EXPECT_EQ(ReadFile("out.txt")->size(), GetParam().writtenBefore);
  textio::CloseUnit(2);
  EXPECT_EQ(ReadFile("out.txt"), placed);
}

constexpr size_t kLater = 256 * 1024;

INSTANTIATE_TEST_SUITE_P(Placings, Loads,
                         testing::Values(LoadCase{{1024}, 0}, LoadCase{{1025}, 1024}, LoadCase{{3711}, 1024},
                                         LoadCase{{1024 + kLater}, 1024}, LoadCase{{1024 + kLater + 1}, 1024 + kLater},
                                         LoadCase{{100, 1024 + 2 * kLater}, 1024 + 2 * kLater},
                                         LoadCase{{100, 924 + 2 * kLater}, 1024 + kLater}));

// Another opener keeps the file from the layer: on Windows one that shares
// it with no one, elsewhere its permissions, for a user who is not root.
TEST_F(Units, FileKeptFromTheLayerIsRefused) {
  test_support::WriteFile("kept.txt", "1\n");
#ifdef _WIN32
  HANDLE held = CreateFileA("kept.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(1, "kept.txt", "read"), textio::OpenAccessDenied);
  EXPECT_EQ(Open(2, "kept.txt", "write"), textio::OpenAccessDenied);
  CloseHandle(held);
#else
  std::filesystem::permissions("kept.txt", std::filesystem::perms::none);
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(2);
        std::exit(Open(1, "kept.txt", "read") == textio::OpenAccessDenied &&
                          Open(2, "kept.txt", "write") == textio::OpenAccessDenied
                      ? 0
                      : 1);
      },
      testing::ExitedWithCode(0), "");
#endif
}

struct ClosedPipeCase {
  bool record;  // a record written to the console, else a console line
  int exitStatus;
  const char* report;
};

class ClosedPipe : public testing::TestWithParam<ClosedPipeCase> {};

// A closed standard input is taken by the null device at start-up, so no
// file takes its handle and it reads as empty. On an output pipe whose
// reader has gone a console line is lost and the run goes on; a record, the
// run's product, is a reported write failure.
TEST_P(ClosedPipe, LosesConsoleLinesButNeverRecords) {
  const ClosedPipeCase& c = GetParam();
  const std::string folder = test_support::TestFolder();
  EXPECT_CHILD_EXIT(folder, true, c.exitStatus, {
    Start();
    char byte = 0;
    size_t got = 1;
    if (Open(1, folder + "/data.txt", "write") != 0 || Open(2, "CON", "write") != 0 ||
        textio::SelectUnit(1, textio::StatementKind::Read)->handle < 3 ||
        textio::platform::ReadOnce(0, &byte, 1, got) != textio::platform::Cause::None || got != 0) {
      std::exit(3);
    }
    if (c.record) {
      textio::beginWrite(2, "(I3)", 4);
      textio::writeInteger(7);
    } else {
      textio::beginWrite();
      textio::writeCharacter("lost", 4);
    }
    textio::endWrite();
    textio::ExitRun(0);
  });
  EXPECT_EQ(ReadFile(folder + "/stderr"), c.report);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, ClosedPipe,
    testing::Values(ClosedPipeCase{false, 0, ""},
                    ClosedPipeCase{true, 1, "\r\nrun-time error F6423: WRITE(CON)\r\n- write failed: the reading end is closed\r\n"}));

}  // namespace
