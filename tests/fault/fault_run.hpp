#pragma once

// A lit XRGB8888 framebuffer of noise for the fault-injection tests, and a run
// of the real tool on it with the allocation fault library preloaded too.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "temp_dir.hpp"
#include "tool_process.hpp"

class fault_scene {
  public:
    fault_scene(std::uint32_t width, std::uint32_t height);

    // env is the tool's environment (SCANOUTSNAP_FAIL_MALLOC names the failing
    // allocation); wrapper a command to start it under, such as setpriv;
    // script_lines more of the fake's script, such as a failing madvise.
    tool_result run(const std::string& output, const std::map<std::string, std::string>& env = {},
                    const std::vector<std::string>& wrapper = {},
                    const std::string& script_lines = "") const;

  private:
    temp_dir dir_;
    std::string card_ = dir_ / "card0";
    std::string buffer_ = dir_ / "buffer";
    std::string script_;
};
