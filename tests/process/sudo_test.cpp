// Runs as root on behalf of a sudo caller: the identity switch before the file
// is created and the hand-over of the file afterwards. Whole processes, since
// the switch cannot be undone.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "decoded_png.hpp"
#include "file_owner.hpp"
#include "temp_dir.hpp"
#include "tool_process.hpp"

namespace {

class Sudo : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root";
        }
        write_file(card_, "");
        write_file(buffer_, std::string(16, '\x11'));
        ::chmod(dir_.path().c_str(), 0755);  // the caller must reach its output directory
        std::filesystem::create_directory(open_dir_);
        ::chmod(open_dir_.c_str(), 0777);
        std::filesystem::create_directory(root_dir_);
        ::chmod(root_dir_.c_str(), 0755);
    }

    tool_result run(const char* uid, const char* gid, const std::string& output,
                    std::vector<std::string> wrapper = {}) {
        std::map<std::string, std::string> env;
        if (uid != nullptr)
            env["SUDO_UID"] = uid;
        if (gid != nullptr)
            env["SUDO_GID"] = gid;
        // A process that gave up root cannot be inspected by the leak checker.
        env["ASAN_OPTIONS"] = "detect_leaks=0:verify_asan_link_order=0";
        const std::string script =
            "crtc 31 45\nfb id=45 width=2 height=2 pitch=8 format=XR24\n"
            "buffer_file " +
            buffer_ + "\n";
        tool_result r = run_tool({.args = {"-d", card_, "-o", output},
                                  .env = env,
                                  .cwd = dir_.path().string(),
                                  .script = script,
                                  .wrapper = wrapper});
        EXPECT_EQ(r.out, "");
        return r;
    }

    temp_dir dir_;
    std::string card_ = dir_ / "card0";
    std::string buffer_ = dir_ / "buffer";
    std::string open_dir_ = dir_ / "open";
    std::string root_dir_ = dir_ / "root-only";
};

TEST_F(Sudo, HandOverWithoutSwitchFollowsTheParsedIds) {
    struct expectation {
        const char* uid;
        const char* gid;
        file_owner result;
    };
    const expectation cases[] = {
        {"0", "1234", {0, 1234}},             // root's own caller: no switch, group given
        {"-1", "1234", {0, 1234}},            // all ones: the owner stays
        {"not a number", "1234", {0, 1234}},  // no digits: user 0
        {"4294967296", "1234", {0, 1234}},    // 2^32 cut to 32 bits: user 0
        {"0", nullptr, {0, 0}},               // one missing: nothing changes
        {nullptr, "1234", {0, 0}},
    };
    for (const expectation& c : cases) {
        const std::string path = open_dir_ + "/shot.png";
        std::filesystem::remove(path);
        const tool_result r = run(c.uid, c.gid, path);
        EXPECT_EQ(r.status, 0) << (c.uid ? c.uid : "(none)");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(owner_of(path), c.result) << (c.uid ? c.uid : "(none)");
    }
}

TEST_F(Sudo, CallerWritesIntoADirectoryItMayWriteAndOwnsTheFile) {
    const std::string path = open_dir_ + "/shot.png";
    const tool_result r = run("65534", "65534", path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(owner_of(path), (file_owner{65534, 65534}));
    EXPECT_TRUE(read_png(path));
    // The capture, its checks and its release all happened as root.
    ASSERT_FALSE(r.events.empty());
    EXPECT_EQ(r.events.back(), "close(device)");
}

TEST_F(Sudo, CallerCannotCreateWhereOnlyRootMayWrite) {
    const std::string path = root_dir_ + "/shot.png";
    const tool_result r = run("65534", "65534", path);
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: write " + path + ": Permission denied\n");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Sudo, RootOwnedFileTheCallerMayNotWriteIsLeftUntouched) {
    const std::string path = root_dir_ + "/shadow";
    write_file(path, "secret\n");
    ::chmod(path.c_str(), 0644);
    const tool_result r = run("65534", "65534", path);
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: write " + path + ": Permission denied\n");
    EXPECT_EQ(read_file(path), "secret\n");
    EXPECT_EQ(owner_of(path), (file_owner{0, 0}));
}

TEST_F(Sudo, RootOwnedWorldWritableFileIsOverwrittenButKeepsItsOwner) {
    const std::string path = root_dir_ + "/shared.png";
    write_file(path, "old");
    ::chmod(path.c_str(), 0666);
    const tool_result r = run("65534", "65534", path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "scanoutsnap: chown " + path + ": Operation not permitted\n");
    EXPECT_TRUE(read_png(path));
    EXPECT_EQ(owner_of(path), (file_owner{0, 0}));
}

TEST_F(Sudo, FailedSwitchIs109WithoutAFile) {
    const std::string path = open_dir_ + "/shot.png";
    const tool_result r =
        run("65534", "65534", path, {"/usr/bin/setpriv", "--bounding-set", "-setuid,-setgid"});
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: drop privileges to 65534:65534: Operation not permitted\n");
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
