#pragma once

// A connection to a PostgreSQL server through libpq, as every command that names one opens it.
// Only the builds with libpq have it.

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <string_view>

#include "common/status.hpp"

namespace profiledesk::office {

struct ConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

struct ResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

struct PostgresConnection {
    Connection connection;  // null on failure
    std::string server;     // postgresql://USER@HOST:PORT/DB, never with the password
    Status status = Status::ok();
};

// Connects to a URI or key=value string: a password in it is refused, a server that does not
// answer is given up after 15 s unless PGCONNECT_TIMEOUT says otherwise, and every message
// names the server without a password (or `argument`, when the text is no connection at all).
PostgresConnection connectPostgres(const std::string& connection, std::string_view argument);

std::string_view orEmpty(const char* text);

// libpq's message on one line: its hint lines (indented) dropped, and the lines of several
// attempts joined.
std::string oneLine(std::string_view message);

}  // namespace profiledesk::office
