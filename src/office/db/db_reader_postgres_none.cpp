// For builds without libpq (Windows): reading from PostgreSQL is not there.

#include "office/db/db_reader.hpp"

namespace profiledesk::office {

DatabaseRead readPostgresRows(const std::string& /*connection*/, std::string_view option,
                              const DateRange& /*dates*/, const RowReader& /*read*/) {
    return {Status::failure(std::string(option) + ": this build has no PostgreSQL support"), true};
}

}  // namespace profiledesk::office
