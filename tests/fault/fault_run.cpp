#include "fault_run.hpp"

#include <sys/stat.h>

fault_scene::fault_scene(std::uint32_t width, std::uint32_t height) {
    ::chmod(dir_.path().c_str(), 0755);  // readable by a tool that runs as another user
    write_file(card_, "");
    ::chmod(card_.c_str(), 0666);  // opened read-write, also by a tool that is not root
    // Noise does not compress, so the PNG is about as large as the pixels.
    std::string bytes(std::size_t{width} * height * 4, '\0');
    std::uint32_t state = 2463534242u;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    write_file(buffer_, bytes);
    script_ = "crtc 31 45\nfb id=45 width=" + std::to_string(width) +
              " height=" + std::to_string(height) + " pitch=" + std::to_string(width * 4) +
              " format=XR24\nbuffer_file " + buffer_ + "\n";
}

tool_result fault_scene::run(const std::string& output,
                             const std::map<std::string, std::string>& env,
                             const std::vector<std::string>& wrapper,
                             const std::string& script_lines) const {
    return run_tool({.args = {"-d", card_, "-o", output},
                     .env = env,
                     .cwd = dir_.path().string(),
                     .script = script_ + script_lines,
                     .wrapper = wrapper,
                     .preloads = {MALLOC_FAULT_PRELOAD},
                     // setpriv may start the tool as a user who cannot read the build tree
                     .as_another_user = !wrapper.empty()});
}
