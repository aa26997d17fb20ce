// The identity switch under sudo in the cases the sudo tests do not set up:
// callers the system does not know, the caller's own group, a root that
// could be regained after the switch, and a tool that is not root at all.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fault_run.hpp"
#include "file_owner.hpp"

namespace {

constexpr uid_t unknown_user = 54321;

class IdentitySwitch : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root";
        }
        ::chmod(out_.path().c_str(), 0777);  // the caller may write here
    }

    tool_result run(const char* uid, const char* gid,
                    const std::vector<std::string>& wrapper = {}) {
        // A process that gave up root cannot be inspected by the leak checker.
        return scene_.run(shot_,
                          {{"SUDO_UID", uid},
                           {"SUDO_GID", gid},
                           {"ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0"}},
                          wrapper);
    }

    fault_scene scene_{2, 2};
    temp_dir out_;
    std::string shot_ = out_ / "shot.png";
};

TEST_F(IdentitySwitch, CallerTheSystemDoesNotKnowGetsOnlyTheGivenGroup) {
    ASSERT_EQ(::getpwuid(unknown_user), nullptr);
    const tool_result r = run("54321", "54322");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(owner_of(shot_), (file_owner{54321, 54322}));
}

TEST_F(IdentitySwitch, OwnGroupOfACallerTheSystemDoesNotKnowIs109) {
    ASSERT_EQ(::getpwuid(unknown_user), nullptr);
    const tool_result r = run("54321", "-1");
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: drop privileges to 54321:4294967295: Invalid argument\n");
    EXPECT_FALSE(std::filesystem::exists(shot_));
}

TEST_F(IdentitySwitch, AllOnesGroupIsTheCallersOwnGroup) {
    const passwd* nobody = ::getpwuid(65534);
    if (nobody == nullptr) {
        GTEST_SKIP() << "no user 65534";
    }
    const gid_t own_group = nobody->pw_gid;
    const tool_result r = run("65534", "-1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(owner_of(shot_), (file_owner{65534, own_group}));
}

TEST_F(IdentitySwitch, RootThatCouldBeRegainedIs109WithoutAFile) {
    // Without the set-user-ID fix-up the capabilities survive setuid, so the
    // tool could become root again: it must refuse to write.
    const tool_result r =
        run("65534", "65534", {"/usr/bin/setpriv", "--securebits", "+no_setuid_fixup"});
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: drop privileges to 65534:65534: Operation not permitted\n");
    EXPECT_FALSE(std::filesystem::exists(shot_));
}

TEST_F(IdentitySwitch, ToolThatIsNotRootWritesWithItsOwnRights) {
    const tool_result r = run(
        "1000", "1000", {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "scanoutsnap: chown " + shot_ + ": Operation not permitted\n");
    EXPECT_EQ(owner_of(shot_), (file_owner{65534, 65534}));
}

}  // namespace
