#pragma once

// serve: the office's work in a browser, for clerks who use no terminal. The pages search the
// records, show one with its history and the forms to correct, review and forget it, show the
// desks, the report and the records that need a look; served over HTTP by the records tool
// itself, from the office's database.

#include <functional>
#include <string>

#include "office/commands.hpp"

namespace profiledesk::office::serve {

struct ServeOptions {
    std::string db;       // a SQLite file or a PostgreSQL connection, as collate's --into
    std::string listen;   // ADDRESS:PORT; empty: 127.0.0.1 on a free port
    int waitSeconds = 5;  // how long a page waits for a database that a collate holds
    std::string by;       // on SQLite on this computer, the clerk changes are kept under
    std::string login;    // the login name, where --by is not given
    bool openBrowser = true;
    std::function<std::string()> now;  // now, in UTC, as a change's time is kept
};

// Serves until it is asked to stop; 0 then, 1 when it cannot start, 2 on a usage error.
int runServe(const ServeOptions& options, Streams& console);

}  // namespace profiledesk::office::serve
