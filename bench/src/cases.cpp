#include "cases.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "floor_encoder.hpp"
#include "png_compare.hpp"
#include "processes.hpp"

namespace {

// The frame's bytes in a memfd, as the fake exports a buffer object.
class memfd_frame {
  public:
    explicit memfd_frame(const std::vector<std::uint8_t>& bytes)
        : fd_(above_standard_streams(::memfd_create("scanout", MFD_CLOEXEC))) {
        ok_ = fd_ != -1 && ::pwrite(fd_, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size());
    }
    ~memfd_frame() {
        if (fd_ != -1) {
            ::close(fd_);
        }
    }
    memfd_frame(const memfd_frame&) = delete;
    memfd_frame& operator=(const memfd_frame&) = delete;
    int fd() const { return fd_; }
    bool ok() const { return ok_; }

  private:
    // With standard input closed, the memfd could become descriptor 0, which
    // the child replaces with /dev/null before it runs the tool.
    static int above_standard_streams(int fd) {
        if (fd == -1 || fd > 2) {
            return fd;
        }
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        return moved;
    }

    int fd_;
    bool ok_ = false;
};

std::string fake_script(const frame& f, const std::string& buffer_line) {
    return "crtc 31 45\nfb id=45 width=" + std::to_string(f.width) +
           " height=" + std::to_string(f.height) + " pitch=" + std::to_string(f.pitch()) +
           " format=" + fourcc_of(f.format) + "\n" + buffer_line + "\n";
}

// The environment both the tool and the floor process start with: the fake
// preloaded into each, so that both pay for loading it alike.
std::vector<std::string> preloaded_fake(const bench_options& o, const std::string& script) {
    return {"LD_PRELOAD=" + o.fake, "FAKE_KMS_SCRIPT=" + script};
}

command tool_command(const bench_options& o, const std::string& script, int fd,
                     const std::string& output) {
    command c;
    // An empty file stands for the device node: the fake answers its calls.
    c.argv = {o.tool, "-d", o.work_dir + "/card0", "-o", output};
    c.extra_env = preloaded_fake(o, script);
    c.stderr_path = o.work_dir + "/tool.err";
    c.inherited_fd = fd;
    return c;
}

// The floor process on the same memfd, started and reaped as the tool is.
command floor_command(const bench_options& o, const frame& f, const std::string& script, int fd,
                      const std::string& output) {
    command c;
    const std::string size = std::to_string(f.width) + "x" + std::to_string(f.height);
    c.argv = {o.floor, "--fd", std::to_string(fd), "--format", fourcc_of(f.format), "--size", size,
              "-o",    output};
    c.extra_env = preloaded_fake(o, script);
    c.stderr_path = o.work_dir + "/floor.err";
    c.inherited_fd = fd;
    return c;
}

struct contender {
    std::string name;
    std::string output;
    std::function<run_result()> run;
    std::string errors = "";  // the file that gets its standard error
};

std::string size_text(const frame& f) {
    return std::to_string(f.width) + "x" + std::to_string(f.height);
}

// Writes the peers' inputs (untimed) and returns how each is run.
std::vector<contender> peers(const frame& f, const bench_options& o) {
    const std::string dir = o.work_dir;
    write_bytes(dir + "/in.raw", f.source.data(), f.source.size());
    const std::string header =
        "P6\n" + std::to_string(f.width) + " " + std::to_string(f.height) + "\n255\n";
    std::vector<std::uint8_t> ppm(header.begin(), header.end());
    ppm.insert(ppm.end(), f.rgb.begin(), f.rgb.end());
    write_bytes(dir + "/in.ppm", ppm.data(), ppm.size());
    // ImageMagick cannot read RGB565: it gets the converted 24-bit pixels.
    const bool xrgb = f.format == pixel_format::xrgb8888;
    if (!xrgb) {
        write_bytes(dir + "/in.rgb", f.rgb.data(), f.rgb.size());
    }
    const auto program = [dir](std::vector<std::string> argv, std::string out = "") {
        return [argv = std::move(argv), out = std::move(out), dir] {
            command c;
            c.argv = argv;
            c.stdout_path = out;
            c.stderr_path = dir + "/peer.err";
            return run_timed(c);
        };
    };
    return {
        {"ffmpeg", dir + "/ffmpeg.png",
         program({o.ffmpeg, "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "rawvideo",
                  "-pix_fmt", xrgb ? "bgr0" : "rgb565le", "-video_size", size_text(f), "-i",
                  dir + "/in.raw", "-frames:v", "1", "-y", dir + "/ffmpeg.png"}),
         dir + "/peer.err"},
        {"convert", dir + "/convert.png",
         xrgb ? program({o.convert, "-size", size_text(f), "-depth", "8", "bgra:" + dir + "/in.raw",
                         "-alpha", "off", dir + "/convert.png"})
              : program({o.convert, "-size", size_text(f), "-depth", "8", "rgb:" + dir + "/in.rgb",
                         dir + "/convert.png"}),
         dir + "/peer.err"},
        {"pnmtopng", dir + "/pnmtopng.png",
         program({o.pnmtopng, dir + "/in.ppm"}, dir + "/pnmtopng.png"), dir + "/peer.err"},
    };
}

// Runs every contender once per round, each round starting with the next one,
// after one untimed round that loads programs and files into memory.
std::string time_in_alternation(const std::vector<contender>& contenders, int runs,
                                std::vector<contender_result>& results) {
    for (int round = -1; round < runs; ++round) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            const std::size_t k = (i + std::size_t(std::max(round, 0))) % contenders.size();
            const run_result r = contenders[k].run();
            if (r.status != 0) {
                return contenders[k].name + " failed with status " + std::to_string(r.status) +
                       (contenders[k].errors.empty() ? "" : ": " + read_text(contenders[k].errors));
            }
            if (round >= 0) {
                results[k].seconds.push_back(r.seconds);
                results[k].cpu_seconds.push_back(r.cpu_seconds);
            }
        }
    }
    return "";
}

}  // namespace

case_result run_case(content_kind kind, pixel_format format, std::uint32_t width,
                     std::uint32_t height, const bench_options& o) {
    case_result result;
    result.kind = kind;
    result.format = format;
    result.width = width;
    result.height = height;
    const frame f = make_frame(kind, format, width, height);
    const memfd_frame buffer(f.source);
    if (!buffer.ok()) {
        result.failure = "cannot fill a memfd";
        return result;
    }
    write_bytes(o.work_dir + "/card0", "", 0);
    const std::string script = o.work_dir + "/fake.script";
    const std::string text = fake_script(f, "buffer_fd " + std::to_string(buffer.fd()));
    write_bytes(script, text.data(), text.size());

    const command tool = tool_command(o, script, buffer.fd(), o.work_dir + "/tool.png");
    const command floor =
        floor_command(o, f, script, buffer.fd(), o.work_dir + "/floor-process.png");
    // In the order of the indexes in cases.hpp.
    std::vector<contender> contenders = {
        {"scanoutsnap", o.work_dir + "/tool.png", [&] { return run_timed(tool); },
         tool.stderr_path},
        {floor_process_name, o.work_dir + "/floor-process.png", [&] { return run_timed(floor); },
         floor.stderr_path},
        // The stricter figure: no process to start, the pixels converted already.
        {floor_in_process_name, o.work_dir + "/floor.png",
         [&] {
             run_result r;
             const double start = now_seconds();
             const double cpu_start = process_cpu_seconds();
             const bool ok = encode_floor_png((o.work_dir + "/floor.png").c_str(), f.width,
                                              f.height, f.rgb.data());
             r.seconds = now_seconds() - start;
             r.cpu_seconds = process_cpu_seconds() - cpu_start;
             r.status = ok ? 0 : 1;
             return r;
         }},
    };
    if (o.peers) {
        for (contender& p : peers(f, o)) {
            contenders.push_back(std::move(p));
        }
    }
    for (const contender& c : contenders) {
        result.contenders.push_back({c.name, {}, {}, 0, false});
    }
    result.failure = time_in_alternation(contenders, o.runs, result.contenders);
    if (!result.failure.empty()) {
        return result;
    }

    for (std::size_t i = 0; i < contenders.size(); ++i) {
        const auto bytes = read_file_bytes(contenders[i].output);
        result.contenders[i].output_bytes = bytes ? bytes->size() : 0;
        const auto pixels = read_png_as_rgb(contenders[i].output, f.width, f.height);
        result.contenders[i].same_pixels = pixels && *pixels == f.rgb;
    }
    const auto tool_bytes = read_file_bytes(contenders[tool_index].output);
    const auto process_bytes = read_file_bytes(contenders[floor_process_index].output);
    const auto in_process_bytes = read_file_bytes(contenders[floor_in_process_index].output);
    const bool floors_agree =
        process_bytes && in_process_bytes && *process_bytes == *in_process_bytes;
    result.tool_equals_floor = floors_agree && tool_bytes && *tool_bytes == *in_process_bytes;
    if (!floors_agree) {
        result.failure = "the floor process's PNG differs from the in-process floor's";
    } else if (!result.tool_equals_floor || !result.contenders[tool_index].same_pixels) {
        result.failure = "the tool's PNG differs from the floor's";
    }
    if (o.heap) {
        result.heap = measure_heap_peak(tool, o.work_dir + "/massif.out");
        if (!result.heap) {
            result.failure = "valgrind massif failed";
        }
    }
    for (const contender& c : contenders) {
        std::filesystem::remove(c.output);
    }
    return result;
}

loading_result run_loading_comparison(std::uint32_t width, std::uint32_t height,
                                      const bench_options& o) {
    loading_result result;
    const frame f = make_frame(content_kind::black, pixel_format::xrgb8888, width, height);
    const frame dot = make_frame(content_kind::black, pixel_format::xrgb8888, 1, 1);
    const memfd_frame buffer(f.source);
    const memfd_frame dot_buffer(dot.source);
    write_bytes(o.work_dir + "/card0", "", 0);
    const std::string file = o.work_dir + "/buffer";
    write_bytes(file, f.source.data(), f.source.size());
    const std::string from_file = o.work_dir + "/file.script";
    const std::string from_memfd = o.work_dir + "/memfd.script";
    const std::string one_pixel = o.work_dir + "/dot.script";
    const std::string texts[] = {fake_script(f, "buffer_file " + file),
                                 fake_script(f, "buffer_fd " + std::to_string(buffer.fd())),
                                 fake_script(dot, "buffer_fd " + std::to_string(dot_buffer.fd()))};
    write_bytes(from_file, texts[0].data(), texts[0].size());
    write_bytes(from_memfd, texts[1].data(), texts[1].size());
    write_bytes(one_pixel, texts[2].data(), texts[2].size());
    const std::string out = o.work_dir + "/loading.png";
    const command commands[] = {tool_command(o, from_file, -1, out),
                                tool_command(o, from_memfd, buffer.fd(), out),
                                tool_command(o, one_pixel, dot_buffer.fd(), out),
                                floor_command(o, dot, one_pixel, dot_buffer.fd(), out)};
    std::vector<contender> contenders;
    for (const command& c : commands) {
        contenders.push_back({c.argv[0], out, [&c] { return run_timed(c); }, c.stderr_path});
    }
    std::vector<contender_result> times(4);
    result.failure = time_in_alternation(contenders, o.runs, times);
    result.from_file = times[0].seconds;
    result.from_memfd = times[1].seconds;
    result.one_pixel = times[2].seconds;
    result.floor_one_pixel = times[3].seconds;
    std::filesystem::remove(file);
    std::filesystem::remove(out);
    return result;
}
