// For builds without libpq (Windows): collating into PostgreSQL is not there.

#include "office/collate/target.hpp"

namespace profiledesk::office {

OpenedTarget openPostgresTarget(const std::string& /*connection*/) {
    OpenedTarget opened;
    opened.status = Status::failure("this build has no PostgreSQL support");
    opened.unsupported = true;
    return opened;
}

}  // namespace profiledesk::office
