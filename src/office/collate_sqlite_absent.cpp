// Collating into SQLite, in a build made without SQLite (the Windows build).

#include "office/collate_target.hpp"

namespace profiledesk::office {

OpenedTarget openSqliteTarget(const std::string& /*path*/) {
    OpenedTarget opened;
    opened.status = Status::failure("this build has no database support: collate is not available");
    opened.unsupported = true;
    return opened;
}

}  // namespace profiledesk::office
