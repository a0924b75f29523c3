#pragma once

// Opening a PostgreSQL connection named as collate's --into names one, for every command
// that reads or writes the records there (Linux builds only: they alone have libpq).

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <string_view>

#include "common/status.hpp"
#include "office/db/database.hpp"

namespace profiledesk::office::db {

struct ConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
using PgConnection = std::unique_ptr<PGconn, ConnectionCloser>;

struct PgResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultClearer>;

struct OpenedConnection {
    PgConnection connection;
    std::string server;  // postgresql://USER@HOST:PORT/DB, for messages
};

// Connects, refusing a password on the command line and giving up on a silent server after
// a while. `optionName` ("--into") starts the message when the text is no connection at all.
// A `user` and `password` given (a clerk's sign-in) replace what the connection and the
// environment would give: a role signed in with is never another's password from PGPASSWORD.
Result<OpenedConnection> connectPostgres(const std::string& connection, std::string_view optionName,
                                         std::string_view user = {}, std::string_view password = {});

// postgresql://USER@HOST:PORT/DB, each part percent-encoded as a URI needs, never with the
// password: how messages name a server.
std::string serverName(std::string_view user, std::string_view host, std::string_view port,
                       std::string_view db);

// Text libpq gave, or nothing for its null.
inline std::string_view orEmpty(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

// libpq's message on one line: its hint lines (indented) dropped, and the lines of several
// attempts joined.
std::string oneLine(std::string_view message);

}  // namespace profiledesk::office::db
