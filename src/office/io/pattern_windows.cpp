#include "office/io/desk_input.hpp"

namespace profiledesk::office {

std::vector<std::string> expandPattern(const std::string& pattern) {
    // Wildcards are not expanded here yet: the path is read as it is written.
    return {pattern};
}

}  // namespace profiledesk::office
