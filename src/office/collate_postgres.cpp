#include "office/collate_target.hpp"

namespace profiledesk::office {

OpenedTarget openPostgresTarget(const std::string& /*connection*/) {
    OpenedTarget opened;
    opened.status = Status::failure("collating into PostgreSQL is not built yet");
    opened.unsupported = true;
    return opened;
}

}  // namespace profiledesk::office
