// The byte stream the download is written through: its contents reach the
// file byte for byte, a failed save leaves nothing behind, and a closed
// stream refuses everything.
#include "platform/posix/machine/machine.h"
#include "platform/posix/objects/objects.h"
#include "support/failures.h"
#include "support/fake_runtime_posix.h"
#include "support/host_files.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vk {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kBadArguments = 3001;
constexpr std::int32_t kWriteFailed = 3004;
constexpr std::int32_t kNotInContext = 3219;
constexpr std::int32_t kClosed = 3704;
constexpr std::int32_t kOpen = 3705;

Bytes sample(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
  b[0] = 0;
  return b;
}

class AdodbStreamTest : public ::testing::Test {
protected:
  test::TestMachine tm;
  posix::Machine machine{tm.root()};
  test::FakeRuntime rt{machine};

  ObjectRef stream() { return rt.rtcCreateObject2(u"ADODB.Stream"); }
  // The setup tool's sequence: Open, Type 1, Write, Position 0, SaveToFile.
  void save(const Bytes& bytes, const Text& path, std::int16_t option = 2) {
    ObjectRef s = stream();
    s->call(u"Open", {});
    s->put(u"Type", Variant(std::int16_t{1}));
    s->call(u"Write", {Variant(bytes)});
    s->put(u"Position", Variant(std::int16_t{0}));
    s->call(u"SaveToFile", {Variant(path), Variant(option)});
    s->call(u"Close", {});
  }
};

TEST_F(AdodbStreamTest, SavesAndReplacesByteForByte) {
  tm.makeDir(u"C:\\Kurulum\\Vorlan-Grenvilta");
  const Text path = u"C:\\Kurulum\\Vorlan-Grenvilta\\chromedriver_win32.zip";
  const Bytes first = sample(1 << 20);
  save(first, path);
  const std::string onDisk = tm.readFile(path);
  EXPECT_EQ(Bytes(onDisk.begin(), onDisk.end()), first);

  // Option 2 replaces, with a shorter content: nothing of the old one stays.
  const Bytes second = {'P', 'K', 0, 0, 0xff};
  save(second, path);
  EXPECT_EQ(tm.readFile(path), std::string("PK\0\0\xff", 5));

  // The Windows path is matched without regard to case, like on Windows.
  save(Bytes{'x'}, u"c:\\KURULUM\\vorlan-grenvilta\\CHROMEDRIVER_WIN32.ZIP");
  EXPECT_EQ(tm.readFile(path), "x");
  EXPECT_TRUE(test::temporaries(tm.host(u"C:\\Kurulum\\Vorlan-Grenvilta")).empty());

  // An empty stream makes an empty file.
  save(Bytes{}, u"C:\\Kurulum\\empty.bin");
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\empty.bin"), "");
}

TEST_F(AdodbStreamTest, OptionOneNeverReplaces) {
  tm.writeFile(u"C:\\Kurulum\\old.bin", "old");
  EXPECT_EQ(test::errorNumber([&] {
              save(Bytes{'n', 'e', 'w'}, u"C:\\Kurulum\\old.bin", 1);
            }),
            kWriteFailed);
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\old.bin"), "old");
  save(Bytes{'n', 'e', 'w'}, u"C:\\Kurulum\\new.bin", 1);
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\new.bin"), "new");
  EXPECT_TRUE(test::temporaries(tm.host(u"C:\\Kurulum")).empty());
}

TEST_F(AdodbStreamTest, FailedSavesReport3004AndLeaveNothing) {
  tm.makeDir(u"C:\\Kurulum");
  // The sibling folder is missing.
  EXPECT_EQ(test::errorNumber([&] { save(sample(100), u"C:\\Kurulum\\Vorlan-Grenvilta\\a.zip"); }),
            kWriteFailed);
  EXPECT_FALSE(tm.exists(u"C:\\Kurulum\\Vorlan-Grenvilta"));
  // A folder stands where the file should go.
  tm.makeDir(u"C:\\Kurulum\\a.zip");
  EXPECT_EQ(test::errorNumber([&] { save(sample(100), u"C:\\Kurulum\\a.zip"); }), kWriteFailed);
  EXPECT_TRUE(fs::is_directory(tm.host(u"C:\\Kurulum\\a.zip")));
  // A drive the machine does not have, and a relative path.
  EXPECT_EQ(test::errorNumber([&] { save(sample(100), u"Q:\\a.zip"); }), kWriteFailed);
  EXPECT_EQ(test::errorNumber([&] { save(sample(100), u"a.zip"); }), kWriteFailed);
  EXPECT_TRUE(test::temporaries(tm.host(u"C:\\Kurulum")).empty());

  // A folder nobody may write to, the host's root included, as MkDir and
  // FileCopy see it.
  tm.makeDir(u"C:\\Kurulum\\ro");
  fs::permissions(tm.host(u"C:\\Kurulum\\ro"), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(test::errorNumber([&] { save(sample(100), u"C:\\Kurulum\\ro\\a.zip"); }),
            kWriteFailed);
  EXPECT_TRUE(fs::is_empty(tm.host(u"C:\\Kurulum\\ro")));
}

TEST_F(AdodbStreamTest, ASaveCutShortKeepsTheOldFileWhole) {
  // The file system refuses the save half-way (here: a file size limit,
  // in a child process so the limit stays there).
  tm.writeFile(u"C:\\Kurulum\\driver.zip", "old content");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::int32_t number = 0;
    try {
      save(sample(1 << 20), u"C:\\Kurulum\\driver.zip");
    } catch (const RuntimeError& e) {
      number = e.number();
    }
    _exit(number == kWriteFailed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not fail with 3004";
  EXPECT_EQ(tm.readFile(u"C:\\Kurulum\\driver.zip"), "old content");
  EXPECT_TRUE(test::temporaries(tm.host(u"C:\\Kurulum")).empty());
}

TEST_F(AdodbStreamTest, WritesAtThePositionAndReadsBack) {
  ObjectRef s = stream();
  s->call(u"open", {});
  s->put(u"type", Variant(1));
  const Variant written(Bytes{1, 2, 3, 4, 5});
  s->call(u"write", {written});
  EXPECT_EQ(s->get(u"Size").toInt32(), 5);
  EXPECT_EQ(s->get(u"Position").toInt32(), 5);
  EXPECT_TRUE(s->get(u"EOS").toBool());
  s->put(u"Position", Variant(1));
  s->call(u"Write", {Variant(Bytes{9, 9})});    // overwrites, does not insert
  s->call(u"Write", {Variant(Bytes{8, 8, 8})}); // and extends past the end
  s->put(u"Position", Variant(0));
  EXPECT_EQ(s->call(u"Read", {}).toBytes(), (Bytes{1, 9, 9, 8, 8, 8}));
  EXPECT_EQ(written.toBytes(), (Bytes{1, 2, 3, 4, 5})); // the writer's array is its own
  s->put(u"Position", Variant(2));
  EXPECT_EQ(s->call(u"Read", {Variant(2)}).toBytes(), (Bytes{9, 8}));
  s->call(u"SetEOS", {});
  EXPECT_EQ(s->get(u"Size").toInt32(), 4);
  EXPECT_EQ(test::errorNumber([&] { s->put(u"Position", Variant(5)); }), kBadArguments);
  EXPECT_EQ(test::errorNumber([&] { s->put(u"Position", Variant(-1)); }), kBadArguments);
  // The saved file is the whole stream, wherever the position is.
  s->call(u"SaveToFile", {Variant(u"C:\\whole.bin"), Variant(2)});
  EXPECT_EQ(tm.readFile(u"C:\\whole.bin"), std::string("\x01\x09\x09\x08", 4));
}

TEST_F(AdodbStreamTest, RefusesWhatTheStreamIsNotReadyFor) {
  ObjectRef s = stream();
  EXPECT_EQ(s->get(u"State").toInt32(), 0);
  // Closed: every operation on the contents fails with 3704.
  EXPECT_EQ(test::errorNumber([&] { s->call(u"Write", {Variant(Bytes{1})}); }), kClosed);
  EXPECT_EQ(test::errorNumber([&] { s->put(u"Position", Variant(0)); }), kClosed);
  EXPECT_EQ(test::errorNumber([&] {
              s->call(u"SaveToFile", {Variant(u"C:\\x.bin"), Variant(2)});
            }),
            kClosed);
  EXPECT_EQ(test::errorNumber([&] { s->call(u"Close", {}); }), kClosed);
  EXPECT_FALSE(tm.exists(u"C:\\x.bin"));

  s->call(u"Open", {});
  EXPECT_EQ(s->get(u"State").toInt32(), 1);
  EXPECT_EQ(test::errorNumber([&] { s->call(u"Open", {}); }), kOpen);
  // A new stream holds text until told otherwise: bytes are refused.
  EXPECT_EQ(s->get(u"Type").toInt32(), 2);
  EXPECT_EQ(test::errorNumber([&] { s->call(u"Write", {Variant(Bytes{1})}); }), kNotInContext);
  EXPECT_EQ(test::errorNumber([&] { s->put(u"Type", Variant(3)); }), kBadArguments);
  s->put(u"Type", Variant(1));
  EXPECT_EQ(test::errorNumber([&] { s->call(u"Write", {Variant(u"text")}); }), kBadArguments);
  s->call(u"Write", {Variant(Bytes{1, 2})});
  // The type changes only at the start of the stream.
  EXPECT_EQ(test::errorNumber([&] { s->put(u"Type", Variant(2)); }), kNotInContext);
  EXPECT_EQ(test::errorNumber([&] {
              s->call(u"SaveToFile", {Variant(u"C:\\x.bin"), Variant(3)});
            }),
            kBadArguments);
  EXPECT_EQ(test::errorNumber([&] { s->call(u"Write", {}); }), err::WrongArgumentCount);
  EXPECT_EQ(test::errorNumber([&] { s->call(u"LoadFromFile", {Variant(u"C:\\x.bin")}); }),
            err::NoSuchMember);
  // A property that is only read refuses assignment as the run-time does.
  EXPECT_EQ(test::errorNumber([&] { s->put(u"Size", Variant(0)); }), err::WrongArgumentCount);

  s->call(u"Close", {});
  EXPECT_EQ(test::errorNumber([&] { s->call(u"Write", {Variant(Bytes{1})}); }), kClosed);
  // Reopened, it is empty again.
  s->call(u"Open", {});
  EXPECT_EQ(s->get(u"Size").toInt32(), 0);
}

} // namespace
} // namespace vk
