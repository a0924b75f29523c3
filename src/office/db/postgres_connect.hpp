#pragma once

// Opening a PostgreSQL connection named as collate's --into names one, for every command
// that reads or writes the records there (Linux builds only: they alone have libpq).

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

struct PgResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultClearer>;

struct OpenedConnection {
    Connection connection;  // null on failure
    std::string server;     // user@host:port/db, for messages
    Status status = Status::ok();
};

// Connects, refusing a password on the command line and giving up on a silent server after
// a while. `optionName` ("--into") starts the message when the text is no connection at all.
OpenedConnection connectPostgres(const std::string& connection, std::string_view optionName);

// Connects as connectPostgres does, to read the records back: answers come as UTF-8 whatever
// the database keeps them in, and a SQL_ASCII database gives its bytes as they are.
OpenedConnection connectPostgresToRead(const std::string& connection, std::string_view optionName);

// Text libpq gave, or nothing for its null.
inline std::string_view orEmpty(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

// libpq's message on one line: its hint lines (indented) dropped, and the lines of several
// attempts joined.
std::string oneLine(std::string_view message);

}  // namespace profiledesk::office
