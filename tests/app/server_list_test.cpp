#include "app/server_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/platform.h"

namespace {

using Entries = std::vector<std::string>;

TEST(ServerListText, OnlyALeadingHashMakesAComment) {
    EXPECT_EQ(ParseServerList("#comment\nntp1\n #x\nntp2 # note\n##\n"),
              (Entries{"ntp1", " #x", "ntp2 # note"}));
    EXPECT_EQ(ParseServerList("# one\n#two\n"), Entries{});
}

TEST(ServerListText, TrailingWhiteSpaceGoesLeadingStays) {
    EXPECT_EQ(ParseServerList("pool.example.org   \n  pool.example.org\n"),
              (Entries{"pool.example.org", "  pool.example.org"}));
    EXPECT_EQ(ParseServerList("a \t\v\f\r\nb\r\r\n"), (Entries{"a", "b"}));
}

TEST(ServerListText, BlankLinesBecomeEmptyEntries) {
    EXPECT_EQ(ParseServerList("ntp1\n\nntp2\n"), (Entries{"ntp1", "", "ntp2"}));
    EXPECT_EQ(ParseServerList("\n  \n\t\r\n"), (Entries{"", "", ""}));
}

TEST(ServerListText, LineEndsAndTheLastLine) {
    EXPECT_EQ(ParseServerList("a\r\nb\r\n"), (Entries{"a", "b"}));
    EXPECT_EQ(ParseServerList("a\nb"), (Entries{"a", "b"}));
    EXPECT_EQ(ParseServerList("a\n"), Entries{"a"});
    EXPECT_EQ(ParseServerList(""), Entries{});
    // A CR that ends no line stays inside the name.
    EXPECT_EQ(ParseServerList("a\rb\n"), Entries{"a\rb"});
}

TEST(ServerListText, NamesKeepTheirCase) {
    // Lower-casing is the server box's job: the reader hands names over as written.
    EXPECT_EQ(ParseServerList("NTP.Example.ORG\n"), Entries{"NTP.Example.ORG"});
}

TEST(ServerListText, EndOfFileMarkEndsTheText) {
    EXPECT_EQ(ParseServerList(std::string("a\nb\x1A\nc\n")), (Entries{"a", "b"}));
    EXPECT_EQ(ParseServerList(std::string("\x1A"
                                          "a\n")),
              Entries{});
    EXPECT_EQ(ParseServerList(std::string("a\n\x1A")), Entries{"a"});
}

TEST(ServerListText, NulEndsTheTextOfItsLine) {
    EXPECT_EQ(ParseServerList(std::string("ab\0cd\nx\n", 8)), (Entries{"ab", "x"}));
    EXPECT_EQ(ParseServerList(std::string("\0#c\nx\n", 6)), (Entries{"", "x"}));
    EXPECT_EQ(ParseServerList(std::string("a\n\0", 3)), (Entries{"a", ""}));
}

class ServerListFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() /
                (std::string("quillon-server-list-") + info->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path m_dir;
};

TEST_F(ServerListFile, ReadsEntriesInFileOrder) {
    const std::string path = Write("time.txt", "#list\r\nntp1\r\n\r\n  ntp2  \r\nNTP3");
    Entries entries;
    ASSERT_TRUE(ReadServerList(path, &entries));
    EXPECT_EQ(entries, (Entries{"ntp1", "", "  ntp2", "NTP3"}));
}

TEST_F(ServerListFile, EmptyFileIsPresentWithNoEntries) {
    const std::string path = Write("time.txt", "");
    Entries entries{"left over"};
    ASSERT_TRUE(ReadServerList(path, &entries));
    EXPECT_TRUE(entries.empty());
}

TEST_F(ServerListFile, MissingOrUnreadableFileCountsAsAbsent) {
    Entries entries{"untouched"};
    EXPECT_FALSE(ReadServerList((m_dir / "missing.txt").string(), &entries));
    // A directory of that name exists but cannot be read as a list.
    std::filesystem::create_directories(m_dir / "time.txt");
    EXPECT_FALSE(ReadServerList((m_dir / "time.txt").string(), &entries));
    EXPECT_EQ(entries, Entries{"untouched"});
}

TEST_F(ServerListFile, OnlyTheFirstMebibyteIsRead) {
    // Lines long enough that the byte bound comes before the line bound, and of a length
    // that makes the byte bound cut one of them in two.
    std::string bytes;
    for (int i = 0; bytes.size() <= kServerListMaxBytes + 500; ++i) {
        bytes += "server-" + std::to_string(i) + std::string(2000, 'x') + ".example\n";
    }
    const std::string path = Write("time.txt", bytes);
    Entries entries;
    ASSERT_TRUE(ReadServerList(path, &entries));
    const std::string kept = bytes.substr(0, kServerListMaxBytes);
    const std::string lastWhole = kept.substr(0, kept.rfind('\n'));
    EXPECT_EQ(entries.back(), lastWhole.substr(lastWhole.rfind('\n') + 1))
        << "the line cut by the bound is dropped";
    EXPECT_EQ(entries.size(), static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\n')));
}

TEST_F(ServerListFile, AFileAbove2GiBIsReadLikeAnyOther) {
    // Sparse: 3 GiB long, a few blocks on disk.
    const std::string path = Write("time.txt", "first.example\nsecond.example\n");
    {
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
#ifdef _WIN32
        ASSERT_EQ(_fseeki64(file, 3LL << 30, SEEK_SET), 0);
#else
        ASSERT_EQ(fseeko(file, static_cast<off_t>(3LL << 30), SEEK_SET), 0);
#endif
        std::fputc('\n', file);
        std::fclose(file);
    }
    Entries entries;
    ASSERT_TRUE(ReadServerList(path, &entries)) << "last-error code " << platform::LastError();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0], "first.example");
    EXPECT_EQ(entries[1], "second.example");
}

TEST_F(ServerListFile, LinesBeyondTheBoundAreNotRead) {
    std::string bytes;
    for (int i = 0; i < 12000; ++i) {
        bytes += (i % 2 == 0 ? "#c\n" : "n\n");
    }
    Entries entries;
    ASSERT_TRUE(ReadServerList(Write("time.txt", bytes), &entries));
    EXPECT_EQ(entries.size(), kServerListMaxLines / 2);

    // The bound itself: every line up to it is read, the next one is not.
    std::string names;
    for (std::size_t i = 1; i <= kServerListMaxLines + 1; ++i) {
        names += "n" + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(ReadServerList(Write("names.txt", names), &entries));
    EXPECT_EQ(entries.size(), kServerListMaxLines);
    EXPECT_EQ(entries.back(), "n" + std::to_string(kServerListMaxLines));
}

#ifndef _WIN32
TEST_F(ServerListFile, PipesAndDevicesCountAsAbsent) {
    Entries entries{"untouched"};
    // Opening a pipe would wait for a writer; a device may never end.
    const std::string pipe = (m_dir / "time.txt").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(ReadServerList(pipe, &entries));
    EXPECT_FALSE(ReadServerList("/dev/zero", &entries));
    EXPECT_EQ(entries, Entries{"untouched"});
}
#endif

}  // namespace
