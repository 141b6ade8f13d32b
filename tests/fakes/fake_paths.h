// Control of the fake path layer: it answers as Windows would, with scripted short names,
// temporary directory and link failures.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fake {

struct PathsState {
    bool full_path_fails = false;
    std::map<std::u16string, std::u16string> full_paths;   // absent: the path itself
    std::map<std::u16string, std::u16string> short_names;  // absent: the lookup fails
    std::u16string temp_path = u"C:\\Users\\me\\AppData\\Local\\Temp\\";
    bool temp_fails = false;

    // Link steps: a failing step sets the last error to its code.
    bool prepare_fails = false;
    bool open_fails = false;
    bool set_fails = false;
    std::uint32_t prepare_error = 5;
    std::uint32_t open_error = 5;
    std::uint32_t set_error = 50;
    std::uint32_t discard_error = 0;  // last error left behind by DiscardLinkLocation, if set

    // What happened: "Prepare <link>", "Open <link>", "Set", "Close", "Discard <link>".
    std::vector<std::string> calls;
    std::vector<std::uint8_t> mount_point;  // data of the last SetLinkTarget
    std::u16string link_target;             // target of the last SetLinkTarget
    std::uint32_t last_error = 0;
};
PathsState& Paths();

}  // namespace fake
