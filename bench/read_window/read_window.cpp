// scanoutsnap_read_window: the tool's read window (its one pass over the
// mapping, with its checks) against a plain memcpy of the same mapping into
// a buffer whose pages are already mapped, in-process against the fake kernel
// interface with the frame in a memfd. Each run maps afresh, as the tool
// does. Prints a Markdown table of medians in milliseconds.
//
//   scanoutsnap_read_window DIR [RUNS] [WxH ...]     (default 15 runs,
//                                                     1920x1080 3840x2160)

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/device.hpp"
#include "capture/frame_read.hpp"
#include "fake_kms.hpp"

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// On CLOCK_MONOTONIC_RAW: the fake kernel interface keeps CLOCK_MONOTONIC,
// which the read's checks go by, standing still.
double now_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

template <typename Work>
double milliseconds(Work work) {
    const double start = now_ms();
    work();
    return now_ms() - start;
}

struct timings {
    double read = 0;
    double copy = 0;
};

timings measure(const std::string& card, std::uint32_t width, std::uint32_t height,
                std::uint32_t fourcc, std::uint32_t bytes_per_pixel, int runs) {
    const std::uint32_t pitch = width * bytes_per_pixel;
    std::vector<std::uint8_t> bytes(std::size_t{pitch} * height);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = std::uint8_t(i * 131 + (i >> 11));
    }
    const int memfd = ::memfd_create("frame", MFD_CLOEXEC);
    if (memfd == -1 || ::pwrite(memfd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size())) {
        std::perror("read_window: memfd");
        std::exit(1);
    }
    fake_kms::script s;
    s.crtcs = {{31, 45}};
    s.fb = fake_kms::framebuffer{45, width, height, pitch, 0, fourcc, 0, 1};
    s.buffer_fd = memfd;

    // A fresh capture, as a run of the tool has it.
    auto capture = [&] {
        fake_kms::load(s);
        outcome<unique_fd> device = open_drm_device(card.c_str());
        return map_active_fb(std::move(device.value()), 45);
    };
    frame_copy frame = frame_copy::allocate(width, height, fourcc);
    std::vector<std::uint8_t> plain(bytes.size(), 1);
    std::vector<double> reads;
    std::vector<double> copies;
    const scanout found{45, scanout_place::crtc, 31};
    for (int run = 0; run < runs; ++run) {
        outcome<mapped_fb> first = capture();
        reads.push_back(milliseconds(
            [&] { read_rows_checking(first.value(), found, frame, after_change::read_on); }));
        release_mapped_fb(std::move(first.value()));
        outcome<mapped_fb> second = capture();
        copies.push_back(
            milliseconds([&] { std::memcpy(plain.data(), second.value().pixels, plain.size()); }));
        release_mapped_fb(std::move(second.value()));
    }
    ::close(memfd);
    return {median(reads), median(copies)};
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [RUNS] [WxH ...]\n", argv[0]);
        return 2;
    }
    const std::string card = std::string(argv[1]) + "/card0";
    std::fclose(std::fopen(card.c_str(), "w"));
    const int runs = argc > 2 ? std::atoi(argv[2]) : 15;
    std::vector<std::string> sizes(argv + std::min(argc, 3), argv + argc);
    if (sizes.empty()) {
        sizes = {"1920x1080", "3840x2160"};
    }
    std::printf(
        "| size | format | read window ms | memcpy ms | read ÷ memcpy |\n"
        "|---|---|---:|---:|---:|\n");
    for (const std::string& size : sizes) {
        unsigned width = 0, height = 0;
        std::sscanf(size.c_str(), "%ux%u", &width, &height);
        for (const auto& [name, fourcc, bpp] :
             {std::tuple{"XRGB8888", 0x34325258u, 4u}, std::tuple{"RGB565", 0x36314752u, 2u}}) {
            const timings t = measure(card, width, height, fourcc, bpp, runs);
            std::printf("| %s | %s | %.2f | %.2f | %.2f |\n", size.c_str(), name, t.read, t.copy,
                        t.read / t.copy);
        }
    }
    return 0;
}
