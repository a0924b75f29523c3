#include "office/commands.hpp"

namespace profiledesk::office {

int runReport(const ReportOptions& /*options*/, Console& console) {
    tellError(console, "report is not built yet");
    return 2;
}

}  // namespace profiledesk::office
