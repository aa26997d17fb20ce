// Every failure of the run, as the user sees it: the exit status, the exact
// lines on standard error, nothing on standard output, no file created, and
// everything given back in reverse order of acquisition.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "device_setup.hpp"
#include "temp_dir.hpp"
#include "tool_process.hpp"

namespace {

using lines = std::vector<std::string>;

class Failure : public ::testing::Test {
  protected:
    void SetUp() override { write_file(card_, ""); }

    tool_result run(const std::string& script, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"-d", card_});
        tool_result result =
            run_tool({.args = args, .cwd = cwd_.path().string(), .script = script});
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(std::filesystem::is_empty(cwd_.path())) << "no file may be created";
        return result;
    }

    // The events from the first release on, which must come in reverse order.
    static lines last(const tool_result& result, std::size_t count) {
        const lines& all = result.events;
        return count > all.size() ? all : lines(all.end() - long(count), all.end());
    }

    temp_dir dir_;
    temp_dir cwd_;
    std::string card_ = dir_ / "card0";
};

constexpr char lit[] = "crtc 31 45\n";

// The events of a run that ends at the capability query.
lines opening_until_capability_query() {
    lines expected = device_setup_events();
    expected.back() = "close(device)";
    return expected;
}

TEST_F(Failure, DeviceThatCannotBeOpenedIs101) {
    const tool_result missing = run("", {"-d", dir_ / "nope"});
    EXPECT_EQ(missing.status, 101);
    EXPECT_EQ(missing.err,
              "scanoutsnap: open " + (dir_ / "nope") + ": No such file or directory\n");

    const tool_result empty = run("", {"-d", ""});
    EXPECT_EQ(empty.status, 101);
    EXPECT_EQ(empty.err, "scanoutsnap: open : No such file or directory\n");
}

TEST_F(Failure, CapabilityQueryFailureIs101) {
    const tool_result r = run("cap_error 22\n");
    EXPECT_EQ(r.status, 101);
    EXPECT_EQ(r.err,
              "scanoutsnap: drmGetCap(DRM_CAP_PRIME) fehlgeschlagen: Invalid argument "
              "(Treiber unterstützt PRIME nicht)\n");
    EXPECT_EQ(r.events, opening_until_capability_query());
}

TEST_F(Failure, DriverWithImportButNoExportIs101) {
    for (const char* cap : {"cap 1\n", "cap 0\n"}) {
        const tool_result r = run(cap);
        EXPECT_EQ(r.status, 101);
        EXPECT_EQ(r.err,
                  "scanoutsnap: PRIME-Export nicht unterstützt (DRM_PRIME_CAP_EXPORT). "
                  "Kernel CONFIG_DMA_SHARED_BUFFER=y prüfen.\n");
        EXPECT_EQ(r.events, opening_until_capability_query());
    }
}

TEST_F(Failure, UnreadableModeResourcesIs102) {
    const tool_result r = run("resources_error 13\n");
    EXPECT_EQ(r.status, 102);
    EXPECT_EQ(r.err, "scanoutsnap: drmModeGetResources: Permission denied\n");
    EXPECT_EQ(last(r, 2), (lines{"drmModeGetResources", "close(device)"}));
}

TEST_F(Failure, NothingOnScreenIs103WithRecordsFreedBeforeAndDeviceClosedAfterTheLine) {
    const std::string script = "crtc 31 0\nplane 40 0 45\n";
    const tool_result r = run_tool({.args = {"-d", card_},
                                    .cwd = cwd_.path().string(),
                                    .script = script,
                                    .merge_events_into_stderr = true});
    EXPECT_EQ(r.status, 103);
    const lines err = lines_of(r.err);
    EXPECT_EQ(
        lines(err.end() - 4, err.end()),
        (lines{"drmModeFreePlaneResources", "drmModeFreeResources",
               "scanoutsnap: no active framebuffer found on " + card_ + " (no CRTC/plane with fb)",
               "close(device)"}));
}

TEST_F(Failure, UnreadableFramebufferDescriptionIs104) {
    const tool_result r = run(lit);
    EXPECT_EQ(r.status, 104);
    EXPECT_EQ(r.err, "scanoutsnap: drmModeGetFB2: No such file or directory\n");
    EXPECT_EQ(last(r, 2), (lines{"drmModeGetFB2(45)", "close(device)"}));
}

TEST_F(Failure, TiledLayoutIs105AndWinsOverAnUnsupportedFormat) {
    for (const char* format : {"XR24", "XB24"}) {
        const tool_result r = run(std::string(lit) +
                                  "fb id=45 width=4 height=4 pitch=16 modifier=0x700000000000006 "
                                  "format=" +
                                  format + "\n");
        EXPECT_EQ(r.status, 105);
        EXPECT_EQ(r.err,
                  "scanoutsnap: unsupported modifier 0x700000000000006 (tiled/swizzled, e.g. "
                  "BROADCOM_UIF); only linear supported\n");
        EXPECT_EQ(last(r, 2), (lines{"drmModeFreeFB2(45)", "close(device)"}));
    }
}

TEST_F(Failure, UnsupportedFormatIs106) {
    const tool_result r =
        run(std::string(lit) + "fb id=45 width=4 height=4 pitch=16 format=XB24\n");
    EXPECT_EQ(r.status, 106);
    EXPECT_EQ(r.err, "scanoutsnap: unsupported format 0x34324258 (XRGB8888/ARGB8888/RGB565)\n");
    EXPECT_EQ(last(r, 3), (lines{"drmModeGetFB2(45)", "drmModeFreeFB2(45)", "close(device)"}));
}

TEST_F(Failure, FailedExportIs107WithHintsOnlyForEnoent) {
    const std::string fb = std::string(lit) + "fb id=45 width=4 height=4 pitch=16 format=AR24\n";
    const tool_result other = run(fb + "export_error 5\n");
    EXPECT_EQ(other.status, 107);
    EXPECT_EQ(other.err, "scanoutsnap: drmPrimeHandleToFD: Input/output error\n");
    EXPECT_EQ(last(other, 2), (lines{"drmModeFreeFB2(45)", "close(device)"}));

    const tool_result enoent = run(fb + "export_error 2\n");
    EXPECT_EQ(enoent.status, 107);
    EXPECT_EQ(enoent.err,
              "scanoutsnap: drmPrimeHandleToFD: No such file or directory\n"
              "scanoutsnap: ENOENT = GEM-Handle ungültig/zerstört oder Buffer gehört anderem "
              "Prozess (z.B. Compositor/Desktop).\n"
              "scanoutsnap: Workaround: Agent in derselben Session wie die Anzeige starten. "
              "Kernel: CONFIG_DMA_SHARED_BUFFER=y, CONFIG_DRM_VC4.\n");
}

TEST_F(Failure, MappingRefusedIs108) {
    const std::string fb = std::string(lit) + "fb id=45 width=4 height=4 pitch=16 format=RG16\n";
    for (const std::string& script :
         {fb + "buffer_size 63\n", std::string(lit) + "fb id=45 width=4 height=0 pitch=16 "
                                                      "format=XR24\nbuffer_size 4096\n"}) {
        const tool_result r = run(script);
        EXPECT_EQ(r.status, 108);
        EXPECT_EQ(r.err, "scanoutsnap: mmap: Invalid argument\n");
        EXPECT_EQ(last(r, 3), (lines{"close(dmabuf)", "drmModeFreeFB2(45)", "close(device)"}));
    }
}

TEST_F(Failure, ImageLibpngRefusesIs109AfterTheReleaseWithAnEmptyFile) {
    struct refused {
        std::string geometry;
        std::string mapped;
    };
    for (const refused& c : {refused{"width=0 height=4 pitch=16", "64"},
                             refused{"width=1000001 height=1 pitch=4000004", "4000004"}}) {
        const std::string script =
            std::string(lit) + "fb id=45 " + c.geometry + " format=XR24\nbuffer_size 4000004\n";
        const tool_result r = run_tool({.args = {"-d", card_, "-o", dir_ / "shot.png"},
                                        .cwd = cwd_.path().string(),
                                        .script = script,
                                        .merge_events_into_stderr = true});
        EXPECT_EQ(r.status, 109);
        // The capture is released once the frame is read, before libpng sees it.
        const lines err = lines_of(r.err);
        ASSERT_GE(err.size(), 8u);
        EXPECT_EQ(lines(err.end() - 8, err.end() - 3),
                  (lines{"ioctl(DMA_BUF_IOCTL_SYNC, END|READ)", "munmap(length=" + c.mapped + ")",
                         "close(dmabuf)", "drmModeFreeFB2(45)", "close(device)"}));
        EXPECT_EQ(err[err.size() - 2], "libpng error: Invalid IHDR data");
        EXPECT_EQ(err.back().rfind("scanoutsnap: write " + (dir_ / "shot.png") + ": ", 0), 0u);
        EXPECT_EQ(std::filesystem::file_size(dir_ / "shot.png"), 0u);
    }
}

TEST_F(Failure, UnwritableOutputIs109WithTheOpenError) {
    const std::string path = dir_ / "missing/shot.png";
    const tool_result r =
        run(std::string(lit) + "fb id=45 width=4 height=4 pitch=16 format=XR24\nbuffer_size 64\n",
            {"-o", path});
    EXPECT_EQ(r.status, 109);
    EXPECT_EQ(r.err, "scanoutsnap: write " + path + ": No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

// A path that names no DRM device is never opened for reading and writing
// (opening alone arms a watchdog or blocks on a serial line), yet the run
// ends as that open, and the capability query on what opened, would end it.
// Each path runs against the real kernel, whose answers these are, and with
// the fake and a lit screen, whose log would show a read-write open: none.
TEST_F(Failure, PathsThatNameNoDrmDeviceEndAsTheirOpenWouldWithoutOne) {
    const std::string no_prime =
        "scanoutsnap: drmGetCap(DRM_CAP_PRIME) fehlgeschlagen: Inappropriate ioctl for "
        "device (Treiber unterstützt PRIME nicht)\n";
    auto open_line = [](const std::string& path, const char* error) {
        return "scanoutsnap: open " + path + ": " + error + "\n";
    };
    std::filesystem::create_directory(dir_ / "directory");
    write_file(dir_ / "file", "not a device");
    write_file(dir_ / "empty", "");
    write_file(dir_ / "locked", "");
    ::chmod((dir_ / "locked").c_str(), 0);
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (dir_ / "socket").c_str());
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::filesystem::create_symlink("/dev/null", dir_ / "null-link");
    struct path_case {
        std::string path;
        std::string err;
    };
    const path_case cases[] = {
        {dir_ / "nope", open_line(dir_ / "nope", "No such file or directory")},
        {"", open_line("", "No such file or directory")},
        {dir_ / "directory", open_line(dir_ / "directory", "Is a directory")},
        // Root may open a file without permissions.
        {dir_ / "locked",
         ::geteuid() == 0 ? no_prime : open_line(dir_ / "locked", "Permission denied")},
        {dir_ / "socket", open_line(dir_ / "socket", "No such device or address")},
        {"/dev/null", no_prime},
        {dir_ / "null-link", no_prime},
        {dir_ / "file", no_prime},
        {dir_ / "empty", no_prime},
        {dir_ / "fifo", no_prime},
    };
    const std::string screen =
        std::string(lit) + "fb id=45 width=1 height=1 pitch=4 format=XR24\nbuffer_size 4\n";
    for (const path_case& c : cases) {
        SCOPED_TRACE(c.path);
        for (const std::string& script : {std::string(), screen}) {
            const tool_result r =
                run_tool({.args = {"-d", c.path}, .cwd = cwd_.path().string(), .script = script});
            EXPECT_EQ(r.status, 101);
            EXPECT_EQ(r.err, c.err);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.events, lines{}) << "nothing of the fake's is called or opened";
        }
    }
    ::close(listening);
    EXPECT_TRUE(std::filesystem::is_empty(cwd_.path()));

    // A symbolic link to the device node is followed, and the node opened
    // for reading and writing as a DRM device is: without becoming the
    // controlling terminal, and closed on exec.
    std::filesystem::create_symlink(card_, dir_ / "card-link");
    const tool_result linked = run_tool(
        {.args = {"-d", dir_ / "card-link"}, .cwd = cwd_.path().string(), .script = screen});
    EXPECT_EQ(linked.status, 0);
    for (const std::string& event : linked.events) {
        EXPECT_NE(event.rfind("open(", 0), 0u) << event;
    }

    // A device node the caller may not open for reading and writing fails
    // as its open does (root is tried as another user).
    const std::string locked_card = dir_ / "card1";
    write_file(locked_card, "");
    ::chmod(locked_card.c_str(), 0);
    ::chmod(dir_.path().c_str(), 0755);
    std::vector<std::string> another_user;
    if (::geteuid() == 0) {
        another_user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    const tool_result refused = run_tool({.args = {"-d", locked_card},
                                          .cwd = cwd_.path().string(),
                                          .script = screen,
                                          .wrapper = another_user,
                                          .as_another_user = !another_user.empty()});
    EXPECT_EQ(refused.status, 101);
    EXPECT_EQ(refused.err, open_line(locked_card, "Permission denied"));
    EXPECT_EQ(refused.events, lines{});
}

}  // namespace
