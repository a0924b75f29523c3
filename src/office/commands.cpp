#include "office/commands.hpp"

namespace profiledesk::office {

void tellProblem(std::ostream& out, std::string_view file, std::size_t line, std::string_view what) {
    out << file;
    if (line > 0) {
        out << ':' << line;
    }
    out << ": " << what << '\n';
}

void tellError(Console& console, const std::string& message) {
    console.err << "profiledesk-records: " << message << std::endl;
}

}  // namespace profiledesk::office
