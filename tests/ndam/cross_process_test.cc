// cross_process_test.cc: two processes on one machine: the adapter lock and
// the instance mutex are seen machine-wide.
#include <cstdlib>
#include <map>

#include "tests/ndam/ndam_fixture.h"

namespace ndam_test {
namespace {

class CrossProcessTest : public NdamTest {
 protected:
  // A machine in a file, so that the peer process loads the same one.
  void LoadFile(const json& description) {
    // Inside this build's tree, so that two builds never share a machine.
    dir_ = std::filesystem::path(VREX_BINARY_DIR) / "tests" / "ndam" /
           (std::string("peer-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::path file = dir_ / "machine.json";
    std::ofstream(file) << description.dump(2);
    installed_.reset();
    std::string error;
    machine_ = plat::sim::Machine::from_file(file.string(), &error);
    ASSERT_NE(machine_, nullptr) << error;
    installed_ = machine_->install();
  }
  void TearDown() override {
    NdamTest::TearDown();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Runs the peer on this machine; its "name value" lines.
  std::map<std::string, std::uint32_t> RunPeer() {
    std::filesystem::path out = dir_ / "peer.txt";
    std::string command = "VREX_SIM_MACHINE='" + (dir_ / "machine.json").string() + "' '" +
                          NDAM_PEER + "' > '" + out.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::map<std::string, std::uint32_t> values;
    std::ifstream in(out);
    std::string name;
    std::uint32_t value = 0;
    while (in >> name >> value) values[name] = value;
    return values;
  }

  std::filesystem::path dir_;
};

TEST_F(CrossProcessTest, AdapterHeldByAnotherProcess) {
  LoadFile(MachineOf({Adapter()}));
  ASSERT_EQ(Init(), ngNDAM_OK);
  ASSERT_EQ(ngNdamInitDiag(1), ngNDAM_OK);
  std::map<std::string, std::uint32_t> peer = RunPeer();
  EXPECT_EQ(peer["init"], ngNDAM_OK);
  EXPECT_EQ(peer["initdiag"], ngNDAM_LOCK_NIC_FAILED);
  EXPECT_EQ(peer["fill"], ngNDAM_OK);
  EXPECT_EQ(peer["locked"], 1u);

  // Given back, the other process takes it.
  ASSERT_EQ(ngNdamUnInitDiag(1), ngNDAM_OK);
  peer = RunPeer();
  EXPECT_EQ(peer["initdiag"], ngNDAM_OK);
  EXPECT_EQ(peer["locked"], 0u);
}

TEST_F(CrossProcessTest, SecondInstanceInitialisesAfterItsErrorEntry) {
  LoadFile(MachineOf({Adapter(), Adapter(0x7A45)}));
  LogAll();
  ASSERT_EQ(Init(), ngNDAM_OK);
  std::map<std::string, std::uint32_t> peer = RunPeer();
  EXPECT_EQ(peer["init"], ngNDAM_OK);
  EXPECT_EQ(peer["count"], 2u);
  EXPECT_EQ(peer["uninit"], ngNDAM_OK);
  std::string log = Log();
  EXPECT_EQ(Count(log, " NDAM ERROR       "), 1u) << log;
  EXPECT_NE(log.find("ngNdamInitializeEx() get mutex failed(183)\r\n"), std::string::npos) << log;

  // Once this instance is gone, a further one starts without the entry.
  ASSERT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  peer = RunPeer();
  EXPECT_EQ(peer["init"], ngNDAM_OK);
  EXPECT_EQ(Count(Log(), "get mutex failed"), 1u);
}

}  // namespace
}  // namespace ndam_test
