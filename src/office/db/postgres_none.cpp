// For builds without libpq (Windows): no PostgreSQL, said as such.

#include "office/db/database.hpp"

namespace profiledesk::office::db {

bool namesPostgres(std::string_view name) {
    // Without libpq to read a key=value string, only the URI forms name a server.
    return name.starts_with("postgresql://") || name.starts_with("postgres://");
}

Result<std::unique_ptr<Database>> openPostgres(const std::string& /*connection*/, Access /*access*/,
                                               const OpenOptions& /*options*/) {
    return Status::failure(Status::Code::unsupported, "this build has no PostgreSQL support");
}

}  // namespace profiledesk::office::db
