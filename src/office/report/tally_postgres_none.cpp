// For builds without libpq (Windows): reporting from PostgreSQL is not there.

#include "office/report/tally_sql.hpp"

namespace profiledesk::office {

OpenedDatabase openPostgresRecords(const std::string& /*connection*/) {
    OpenedDatabase opened;
    opened.status = Status::failure("this build has no PostgreSQL support");
    opened.unsupported = true;
    return opened;
}

}  // namespace profiledesk::office
