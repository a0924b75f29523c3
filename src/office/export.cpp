#include "office/commands.hpp"

namespace profiledesk::office {

int runExport(const ExportOptions& /*options*/, Console& console) {
    tellError(console, "export is not built yet");
    return 2;
}

}  // namespace profiledesk::office
