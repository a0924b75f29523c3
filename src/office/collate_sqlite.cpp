#include "office/collate_target.hpp"

namespace profiledesk::office {

OpenedTarget openSqliteTarget(const std::string& /*path*/) {
    OpenedTarget opened;
    opened.status = Status::failure("collating into SQLite is not built yet");
    opened.unsupported = true;
    return opened;
}

}  // namespace profiledesk::office
