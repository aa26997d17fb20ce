#include <getopt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.hpp"
#include "stderr_capture.hpp"

namespace {

struct parsed {
    std::string device;
    std::string output;
    std::string complaints;
};

parsed parse(std::vector<std::string> words) {
    words.insert(words.begin(), "scanoutsnap");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    optind = 0;  // start getopt_long afresh
    out_filename = "screenshot.png";
    stderr_capture err;
    const run_settings settings = parse_command_line(int(words.size()), argv.data());
    return {settings.device_path, out_filename, err.text()};
}

TEST(CommandLine, DefaultsWithoutArgumentsOrWithScreenshotOption) {
    for (const auto& words : {std::vector<std::string>{}, {"-s"}, {"--screenshot"}}) {
        const parsed p = parse(words);
        EXPECT_EQ(p.device, "/dev/dri/card0");
        EXPECT_EQ(p.output, "screenshot.png");
        EXPECT_EQ(p.complaints, "");
    }
}

TEST(CommandLine, LastDeviceCountsAndIsUsedAsGiven) {
    EXPECT_EQ(parse({"-d", "/dev/dri/card1", "--device", "/dev/dri/card2"}).device,
              "/dev/dri/card2");
    EXPECT_EQ(parse({"-d", ""}).device, "");
}

TEST(CommandLine, LastAcceptedOutputCountsAndEmptyMeansDefault) {
    EXPECT_EQ(parse({"-o", "a.png", "--output", "b.png"}).output, "b.png");
    EXPECT_EQ(parse({"-o", "a.png", "-o", ""}).output, "screenshot.png");
    EXPECT_EQ(parse({"-o", "-"}).output, "-");
}

TEST(CommandLine, OutputWithoutArgumentKeepsEarlierOneAndGetoptComplains) {
    const parsed p = parse({"-o", "a.png", "-o"});
    EXPECT_EQ(p.output, "a.png");
    EXPECT_EQ(p.complaints, "scanoutsnap: option requires an argument -- 'o'\n");
}

TEST(CommandLine, UnknownOptionIsReportedByGetoptAndIgnored) {
    const parsed p = parse({"-x", "-d", "card", "operand", "--bogus"});
    EXPECT_EQ(p.device, "card");
    EXPECT_EQ(p.complaints,
              "scanoutsnap: invalid option -- 'x'\n"
              "scanoutsnap: unrecognized option '--bogus'\n");
}

TEST(CommandLine, LongOptionsMayBeAbbreviatedAndTakeEquals) {
    const parsed p = parse({"--out=x.png", "--dev", "card3", "--scr"});
    EXPECT_EQ(p.output, "x.png");
    EXPECT_EQ(p.device, "card3");
    EXPECT_EQ(p.complaints, "");
}

}  // namespace
