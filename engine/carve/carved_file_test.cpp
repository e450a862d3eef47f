// Carved files: their names, a name taken never overwritten (also by writers racing for it), the
// decoded bytes and their hash, files named after their bytes are written, nothing left by a
// failed write, and the folder made or refused.
#include "engine/carve/carved_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/carve/test_ciphers.h"
#include "files/io_error.h"
#include "files/ordinary_user.h"
#include "files/write_fully.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class CarvedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillAlgorithms();
    dir_ = fs::temp_directory_path() / ("veskor_carved_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }
  fs::path dir_;
};

constexpr const char* kHostHash =
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

TEST_F(CarvedFileTest, NamesTellHostOffsetAlgorithmAndKey) {
  struct Case {
    CarvePair pair;
    uint64_t offset;
    const char* stem;
  } cases[] = {
      {{"XOR8", 90, {}}, 70000, "0123456789abcdef_70000_XOR8_90"},
      {{"XOR8ROL", 0x35A, {}}, 5, "0123456789abcdef_5_XOR8ROL_0x35A"},
      {{"XOR8INC", 0, {}}, 0, "0123456789abcdef_0_XOR8INC_0"},
      {{"XORK", 0, {0x8C, 0x61, 0xD2, 0x63}}, 12, "0123456789abcdef_12_XORK_0x8c61d263"},
      {{"../x", 1, {}}, 1, "0123456789abcdef_1____x_1"},
  };
  for (const Case& c : cases) {
    FoundExecutable found;
    found.offset = c.offset;
    found.pair = c.pair;
    EXPECT_EQ(CarvedFileStem(kHostHash, found), c.stem);
  }
}

TEST_F(CarvedFileTest, ANameTakenGetsTheNextNumber) {
  std::ofstream(dir_ / "a.exe") << "kept";
  fs::create_symlink(dir_ / "nowhere", dir_ / "a_2.exe");  // a dangling link is taken too
  std::vector<std::string> made;
  for (int i = 0; i < 3; ++i) made.push_back(CreateNewFile(dir_.string(), "a", ".exe").path());
  EXPECT_EQ(made,
            (std::vector<std::string>{(dir_ / "a_3.exe").string(), (dir_ / "a_4.exe").string(),
                                      (dir_ / "a_5.exe").string()}));
  EXPECT_EQ(Read((dir_ / "a.exe").string()), "kept");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
}

TEST_F(CarvedFileTest, WritersRacingForOneNameEachGetTheirOwn) {
  constexpr int kThreads = 4, kEach = 25;
  std::vector<std::vector<std::string>> paths(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        NewFile file = CreateNewFile(dir_.string(), "same", ".elf");
        WriteFully(file.fd(), std::to_string(t) + ":" + std::to_string(i));
        paths[t].push_back(file.path());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> distinct;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) {
      distinct.insert(paths[t][i]);
      EXPECT_EQ(Read(paths[t][i]), std::to_string(t) + ":" + std::to_string(i));
    }
  }
  EXPECT_EQ(distinct.size(), size_t{kThreads * kEach});
  EXPECT_EQ(Entries(), size_t{kThreads * kEach});
}

TEST_F(CarvedFileTest, TheDecodedBytesAndTheirHash) {
  // "abc" stored under XOR8INC 7 at offset 3 of the host.
  const std::string host = "xyz" + test::Encode("XOR8INC", 7, "abc", 3) + "tail";
  FoundExecutable found;
  found.format = ExecutableFormat::kElf;
  found.offset = 3;
  found.size = 3;
  found.pair = {"XOR8INC", 7, {}};
  const auto* data = reinterpret_cast<const uint8_t*>(host.data());
  const CarvedFile first = WriteCarvedFile(dir_.string(), kHostHash, data, host.size(), found);
  const CarvedFile second = WriteCarvedFile(dir_.string(), kHostHash, data, host.size(), found);
  EXPECT_EQ(first.path, (dir_ / "0123456789abcdef_3_XOR8INC_7.elf").string());
  EXPECT_EQ(second.path, (dir_ / "0123456789abcdef_3_XOR8INC_7_2.elf").string());
  EXPECT_EQ(Read(first.path), "abc");
  EXPECT_EQ(first.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(second.sha256, first.sha256);
}

TEST_F(CarvedFileTest, AFailedWriteLeavesNothing) {
  const std::string host(3 << 20, 'M');  // several blocks
  FoundExecutable found;
  found.offset = 1;
  found.size = host.size() - 1;
  found.pair = {"NONE", 1, {}};
  for (const size_t before : {size_t{0}, size_t{1} << 20}) {
    test::FailNextWrite(ENOSPC, before);
    try {
      WriteCarvedFile(dir_.string(), kHostHash, reinterpret_cast<const uint8_t*>(host.data()),
                      host.size(), found);
      ADD_FAILURE() << "written";
    } catch (const IoError& error) {
      EXPECT_STREQ(error.what(), "Disk full");
      EXPECT_EQ(error.file(), (dir_ / "0123456789abcdef_1_NONE_1.exe").string());
    }
    EXPECT_EQ(Entries(), 0u) << before;
  }
}

// Written first and named once the host's hash is known: nothing shows in the folder before, the
// name is chosen as WriteCarvedFile chooses it, and a failed write leaves nothing.
TEST_F(CarvedFileTest, AFileWrittenBeforeItsNameIsNamedAsTheOthers) {
  const std::string host = "xyz" + test::Encode("XOR8INC", 7, "abc", 3) + "tail";
  const auto* data = reinterpret_cast<const uint8_t*>(host.data());
  FoundExecutable found;
  found.format = ExecutableFormat::kElf;
  found.offset = 3;
  found.size = 3;
  found.pair = {"XOR8INC", 7, {}};
  std::optional<UnnamedCarvedFile> unnamed =
      WriteUnnamedCarvedFile(dir_.string(), data, host.size(), found);
  if (!unnamed) GTEST_SKIP() << "no file without a name in " << dir_;
  EXPECT_EQ(Entries(), 0u);
  std::ofstream(dir_ / "0123456789abcdef_3_XOR8INC_7.elf") << "kept";
  const std::optional<CarvedFile> named =
      NameCarvedFile(std::move(*unnamed), dir_.string(), kHostHash, found);
  ASSERT_TRUE(named);
  EXPECT_EQ(named->path, (dir_ / "0123456789abcdef_3_XOR8INC_7_2.elf").string());
  EXPECT_EQ(Read(named->path), "abc");
  EXPECT_EQ(named->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Read((dir_ / "0123456789abcdef_3_XOR8INC_7.elf").string()), "kept");

  test::FailNextWrite(ENOSPC, 1);
  try {
    WriteUnnamedCarvedFile(dir_.string(), data, host.size(), found, false);
    ADD_FAILURE() << "written";
  } catch (const IoError& error) {
    EXPECT_STREQ(error.what(), "Disk full");
    EXPECT_EQ(error.file(), dir_.string());
  }
  EXPECT_EQ(Entries(), 2u);
}

TEST_F(CarvedFileTest, TheFolderIsMadeOrRefused) {
  const fs::path nested = dir_ / "a" / "b";
  PrepareCarveFolder(nested.string());
  EXPECT_TRUE(fs::is_directory(nested));
  PrepareCarveFolder(nested.string());  // there already

  std::ofstream(dir_ / "file") << "x";
  struct Case {
    fs::path path;
    const char* message;
  } cases[] = {{dir_ / "file", "Invalid filename"},
               {dir_ / "file" / "below", "Invalid filename"},
               {dir_ / "locked", "File access denied"},
               {dir_ / "locked" / "below", "File access denied"}};
  fs::create_directories(dir_ / "locked");
  fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec |
                                       fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir_, fs::perms::all);
  test::AsOrdinaryUser([&] {
    for (const Case& c : cases) {
      try {
        PrepareCarveFolder(c.path.string());
        ADD_FAILURE() << c.path << " taken";
      } catch (const IoError& error) {
        EXPECT_STREQ(error.what(), c.message) << c.path;
        EXPECT_EQ(error.file(), c.path.string());
      }
    }
  });
}

}  // namespace
}  // namespace veskor
