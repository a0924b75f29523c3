// Feeds arbitrary bytes to the desks file's reading, as its text, and checks what it must do
// whatever the file holds: never crash (toml++ once overflowed its stack on a deep key), and
// give either desks a command can read, each with a name free of separators and a path, or
// one usage error that names the file and a line of it.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "office/desks/desk_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace profiledesk::office;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto desks = parseDesks(text, "desks.toml");
    if (!desks.isOk()) {
        const profiledesk::Status& failure = desks.status();
        if (!failure.isUsage() || !failure.message().starts_with("desks.toml:")) {
            std::abort();
        }
        return 0;
    }
    for (const DeskInput& desk : desks.value()) {
        if (desk.name.empty() || desk.name.find('/') != std::string::npos || desk.path.empty()) {
            std::abort();
        }
    }
    return 0;
}
