#include "office/commands.hpp"

#include "common/output_watch.hpp"

namespace profiledesk::office {

void tellProblem(std::ostream& out, std::string_view file, std::size_t line, std::string_view what) {
    out << file;
    if (line > 0) {
        out << ':' << line;
    }
    out << ": " << what << '\n';
}

void tellError(Streams& console, const std::string& message) {
    console.err << "profiledesk-records: " << message << std::endl;
}

bool tellIfOutputFailed(Streams& console) {
    console.out.flush();
    if (console.out) {
        return false;
    }
    tellError(console, outputFailure(console.out));
    return true;
}

}  // namespace profiledesk::office
