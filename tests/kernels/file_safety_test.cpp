// What the file readers and writers do with files that are not plain images, links, long names,
// killed writers and failed allocations.
#include "common/atomic_file.h"
#include "quarnk.h"
#include "support/test_support.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

size_t temporaries(const fs::path& folder) {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(folder))
        n += e.path().extension() == ".part";
    return n;
}

// A process id that no process has: one of a child that has been waited for.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

} // namespace

// A directory read as an empty file, or a FIFO that blocks for ever, are refused as unreadable.
TEST(FileSafety, OnlyRegularFilesAreRead) {
    TempDir dir;
    fs::create_directory("adir.mon");
    ASSERT_EQ(::mkfifo("pipe.mon", 0600), 0);
    std::vector<double> buf(4, 7.0);
    for (const char* name : {"adir.mon", "pipe.mon"}) {
        EXPECT_EQ(Openk(name, 2, 2, buf.data()), -1) << name;
        EXPECT_EQ(Opencsvk(name, 2, 2, buf.data()), -1) << name;
    }
    EXPECT_EQ(buf, std::vector<double>(4, 7.0));
}

TEST(FileSafety, SaveWritesThroughALinkAndKeepsPermissions) {
    TempDir dir;
    const double img[] = {1, 2, 3, 4};
    fs::create_directory("real");
    writeBytes("real/target.mon", "old");
    ::chmod("real/target.mon", 0640);
    fs::create_symlink("real/target.mon", "link.mon");
    ASSERT_EQ(Savek("link.mon", 2, 2, img), 0);
    EXPECT_TRUE(fs::is_symlink("link.mon"));
    EXPECT_EQ(readBytes("real/target.mon"), std::string("\x01\x02\x03\x04", 4));
    struct stat st {};
    ASSERT_EQ(::stat("real/target.mon", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(temporaries("."), 0u);
    EXPECT_EQ(temporaries("real"), 0u);
    // A name as long as a folder entry may be.
    const std::string longName(250, 'n');
    EXPECT_EQ(Savek((longName + ".mon").c_str(), 2, 2, img), 0);
    EXPECT_EQ(readBytes(longName + ".mon").size(), 4u);
}

// Temporaries that nobody holds locked go at the next save into their folder. One still locked
// stays whatever its process number says: the run that writes it may live on another machine or
// in another container sharing the folder, where that number means nothing here. So does one
// just made, that its writer may not have locked yet.
TEST(FileSafety, StaleTemporariesAreThoseNobodyHolds) {
    TempDir dir;
    const std::string dead = ".tovra-" + std::to_string(endedProcess()) + "-3.part";
    const std::string elsewhere = ".tovra-" + std::to_string(endedProcess()) + "-4.part";
    const std::string fresh = ".tovra-" + std::to_string(endedProcess()) + "-5.part";
    // Locked before it was named: a writer holds it from the start, so unheld it is stale however new.
    const std::string lockedFirst = ".tovra-" + std::to_string(endedProcess()) + "-l6.part";
    const std::string lockedFirstHeld = ".tovra-" + std::to_string(endedProcess()) + "-l7.part";
    for (const auto& name : {dead, elsewhere, fresh, lockedFirst, lockedFirstHeld})
        writeBytes(name, "x");
    const int heldToo = ::open(lockedFirstHeld.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(heldToo, LOCK_EX), 0);
    const timeval old[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
    ASSERT_EQ(::utimes(dead.c_str(), old), 0);
    ASSERT_EQ(::utimes(elsewhere.c_str(), old), 0);
    const int held = ::open(elsewhere.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_FALSE(quarnk::AtomicFile::isTemporaryName(".tovra-x-3.part"));
    const double img[] = {1};
    ASSERT_EQ(Savek("a.mon", 1, 1, img), 0);
    EXPECT_FALSE(exists(dead));
    EXPECT_TRUE(exists(elsewhere));
    EXPECT_TRUE(exists(fresh));
    EXPECT_FALSE(exists(lockedFirst));
    EXPECT_TRUE(exists(lockedFirstHeld));
    ::close(held);
    ::close(heldToo);
}

#if !defined(__SANITIZE_ADDRESS__)
// With no memory to spare, an export returns its failure status instead of throwing through the
// C interface (which would end the calling program).
TEST(FileSafety, AllocationFailureBecomesTheFailureStatus) {
    std::vector<double> img(64 * 64, 0.0), acc(2'253'301, 0.0);
    const pid_t child = ::fork();
    if (child == 0) {
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        // Room for nothing large: the Hough kernel's vote table at the finest step needs 9 MB.
        limit.rlim_cur = 0;
        FILE* status = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (status == nullptr || std::fscanf(status, "%lu", &pages) != 1) ::_exit(3);
        std::fclose(status);
        limit.rlim_cur = pages * static_cast<unsigned long>(::sysconf(_SC_PAGESIZE)) + (4u << 20);
        ::setrlimit(RLIMIT_AS, &limit);
        int32_t bound = 1'000'000;
        double slope = 0, intercept = 0;
        const int32_t r = Hcck(64, 0, 0, 64, 64, &bound, 0.12, &slope, &intercept, img.data(), acc.data());
        ::_exit(r == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the export let an exception through";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

namespace {

bool saveText(const char* path, const std::string& text) {
    quarnk::AtomicFile f;
    if (!f.open(path)) return false;
    f.write(text.data(), text.size());
    return f.commit();
}

ino_t inodeOf(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 ? st.st_ino : 0;
}

} // namespace

// A run that keeps spares writes the replaced files' inodes again, but only those nobody else can
// reach: a file with a second name, or one that a reader holds open, keeps its old contents there.
TEST(FileSafety, SparesAreOnlyFilesNobodyElseSees) {
    TempDir dir;
    for (const char* name : {"a.mon", "b.mon", "c.mon", "d.mon", "e.mon"})
        writeBytes(name, std::string("old contents of ") + name);
    ::chmod("b.mon", 0640);
    ASSERT_EQ(::link("c.mon", "c-link.mon"), 0);
    const int reader = ::open("d.mon", O_RDONLY);
    ASSERT_GE(reader, 0);
    const ino_t a = inodeOf("a.mon"), c = inodeOf("c.mon"), d = inodeOf("d.mon");
    {
        const quarnk::AtomicFile::KeepSpares keep;
        ASSERT_TRUE(saveText("a.mon", "new a, longer than what it replaces"));
        EXPECT_EQ(temporaries("."), 1u); // a's old inode, kept
        ASSERT_TRUE(saveText("b.mon", "b"));
        EXPECT_EQ(inodeOf("b.mon"), a); // written again, cut to its new length, with b's permissions
        EXPECT_EQ(readBytes("b.mon"), "b");
        EXPECT_EQ(fs::status("b.mon").permissions(), fs::perms(0640));
        ASSERT_TRUE(saveText("c.mon", "new c"));
        ASSERT_TRUE(saveText("d.mon", "new d"));
        ASSERT_TRUE(saveText("e.mon", "new e"));
        // A file with extended attributes is not kept: they would pass to the next file saved.
        if (::setxattr("a.mon", "user.tag", "x", 1, 0) == 0) { // where the file system has them
            ASSERT_TRUE(saveText("a.mon", "tagged a"));
            ASSERT_TRUE(saveText("e.mon", "new e, again"));
            EXPECT_EQ(::getxattr("e.mon", "user.tag", nullptr, 0), -1);
        }
        for (auto& e : fs::directory_iterator(".")) // a spare removed by someone else is given up
            if (e.path().extension() == ".part") fs::remove(e.path());
        ASSERT_TRUE(saveText("a.mon", "a again"));
        EXPECT_EQ(temporaries("."), 1u);
    }
    EXPECT_EQ(temporaries("."), 0u);
    EXPECT_EQ(readBytes("a.mon"), "a again");
    EXPECT_EQ(readBytes("c.mon"), "new c");
    EXPECT_EQ(readBytes("c-link.mon"), "old contents of c.mon");
    EXPECT_EQ(readBytes("d.mon"), "new d");
    EXPECT_EQ(readBytes("e.mon").substr(0, 5), "new e");
    char held[64] = {};
    EXPECT_EQ(::pread(reader, held, sizeof held - 1, 0), 21);
    EXPECT_STREQ(held, "old contents of d.mon");
    ::close(reader);
    EXPECT_NE(inodeOf("e.mon"), c);
    EXPECT_NE(inodeOf("e.mon"), d);
    EXPECT_EQ(inodeOf("c-link.mon"), c);
}
