// For builds without libpq (Windows): no connection to PostgreSQL is made.

#include "office/db/names.hpp"

namespace profiledesk::office {

bool namesPostgres(std::string_view name) {
    // Without libpq to read a key=value string, only the URI forms name a server.
    return name.starts_with("postgresql://") || name.starts_with("postgres://");
}

}  // namespace profiledesk::office
