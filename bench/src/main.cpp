// The benchmark: the scanoutsnap executable, run as a whole process against
// the fake kernel interface with a memfd-backed framebuffer, timed against the
// libpng floor (as a process started alike, and in-process) and, with
// --peers, against ffmpeg, ImageMagick and netpbm, on the same generated
// pictures. Prints Markdown; exits 1 when a run fails or the
// tool's PNG differs from the floor's.
//
//   scanoutsnap_bench --tool PATH --floor PATH --fake PATH --work DIR [--runs N]
//                     [--sizes WxH,...] [--peers] [--heap] [--loading]
//                     [--ffmpeg PATH] [--convert PATH] [--pnmtopng PATH]

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cases.hpp"
#include "report.hpp"

namespace {

struct size {
    std::uint32_t width, height;
};

std::vector<size> parse_sizes(const std::string& text) {
    std::vector<size> sizes;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        unsigned w = 0, h = 0;
        if (std::sscanf(text.substr(start, end - start).c_str(), "%ux%u", &w, &h) != 2 || w == 0 ||
            h == 0) {
            return {};
        }
        sizes.push_back({w, h});
        start = end + 1;
    }
    return sizes;
}

int usage() {
    std::cerr
        << "usage: scanoutsnap_bench --tool PATH --floor PATH --fake PATH --work DIR [--runs N] "
           "[--sizes WxH,...] [--peers] [--heap] [--loading] [--ffmpeg PATH] [--convert PATH] "
           "[--pnmtopng PATH]\n";
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    bench_options options;
    std::vector<size> sizes = {{1920, 1080}, {3840, 2160}};
    bool loading = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--tool" && has_value) {
            options.tool = argv[++i];
        } else if (arg == "--floor" && has_value) {
            options.floor = argv[++i];
        } else if (arg == "--fake" && has_value) {
            options.fake = argv[++i];
        } else if (arg == "--work" && has_value) {
            options.work_dir = argv[++i];
        } else if (arg == "--runs" && has_value) {
            options.runs = std::atoi(argv[++i]);
        } else if (arg == "--sizes" && has_value) {
            sizes = parse_sizes(argv[++i]);
        } else if (arg == "--ffmpeg" && has_value) {
            options.ffmpeg = argv[++i];
        } else if (arg == "--convert" && has_value) {
            options.convert = argv[++i];
        } else if (arg == "--pnmtopng" && has_value) {
            options.pnmtopng = argv[++i];
        } else if (arg == "--peers") {
            options.peers = true;
        } else if (arg == "--heap") {
            options.heap = true;
        } else if (arg == "--loading") {
            loading = true;
        } else {
            return usage();
        }
    }
    if (options.tool.empty() || options.floor.empty() || options.fake.empty() ||
        options.work_dir.empty() || options.runs < 1 || sizes.empty()) {
        return usage();
    }

    std::vector<case_result> cases;
    bool failed = false;
    for (const pixel_format format : {pixel_format::xrgb8888, pixel_format::rgb565}) {
        for (const content_kind kind :
             {content_kind::desktop, content_kind::photo, content_kind::black}) {
            for (const size s : sizes) {
                std::cerr << "bench: " << name_of(kind) << " " << name_of(format) << " " << s.width
                          << "x" << s.height << "\n";
                cases.push_back(run_case(kind, format, s.width, s.height, options));
                if (!cases.back().failure.empty()) {
                    std::cerr << "bench: " << cases.back().failure << "\n";
                    failed = true;
                }
            }
        }
    }
    print_report(std::cout, cases, options.runs);
    if (loading) {
        const size largest = sizes.back();
        const loading_result l = run_loading_comparison(largest.width, largest.height, options);
        print_loading(std::cout, l, largest.width, largest.height);
        failed = failed || !l.failure.empty();
    }
    std::cout << (failed ? "bench: FAILED\n" : "bench: every capture matched the floor's PNG\n");
    return failed ? 1 : 0;
}
