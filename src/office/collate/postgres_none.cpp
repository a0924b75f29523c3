// For builds without libpq (Windows): collating into PostgreSQL is not there.

#include "office/collate/target.hpp"

namespace profiledesk::office {

bool namesPostgres(std::string_view into) {
    // Without libpq to read a key=value string, only the URI forms name a server.
    return into.starts_with("postgresql://") || into.starts_with("postgres://");
}

OpenedTarget openPostgresTarget(const std::string& /*connection*/) {
    OpenedTarget opened;
    opened.status = Status::failure("this build has no PostgreSQL support");
    opened.unsupported = true;
    return opened;
}

}  // namespace profiledesk::office
