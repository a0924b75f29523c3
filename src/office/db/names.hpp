#pragma once

// How a database is named on the command line: collate's --into, and --from-db of report and
// find. Anything that does not name a PostgreSQL server is a SQLite file.

#include <string_view>

namespace profiledesk::office {

// True for a PostgreSQL connection URI (postgresql://, postgres://) or a key=value string that
// libpq reads; a file name with '=' in it ("office=2026.db") is not one.
bool namesPostgres(std::string_view name);

}  // namespace profiledesk::office
