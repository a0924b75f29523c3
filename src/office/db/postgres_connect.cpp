#include "office/db/postgres_connect.hpp"

#include <cstdlib>
#include <vector>

namespace profiledesk::office::db {

namespace {

struct OptionsFreer {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using ConnectionOptions = std::unique_ptr<PQconninfoOption, OptionsFreer>;

// One part of a URI, with anything but unreserved characters percent-encoded, so that a
// socket folder reads as libpq itself would take it ("%2Fvar%2Frun%2Fpostgresql").
std::string uriPart(std::string_view text) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string part;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            part += c;
        } else {
            part += '%';
            part += kHex[byte >> 4U];
            part += kHex[byte & 0xFU];
        }
    }
    return part;
}

}  // namespace

std::string serverName(std::string_view user, std::string_view host, std::string_view port,
                       std::string_view db) {
    std::string name = "postgresql://";
    if (!user.empty()) {
        name.append(uriPart(user)).append("@");
    }
    name.append(uriPart(host));
    if (!port.empty()) {
        name.append(":").append(uriPart(port));
    }
    return name.append("/").append(uriPart(db));
}

namespace {

std::string serverName(const PGconn* connection) {
    return db::serverName(orEmpty(PQuser(connection)), orEmpty(PQhost(connection)),
                          orEmpty(PQport(connection)), orEmpty(PQdb(connection)));
}

}  // namespace

bool namesPostgres(std::string_view name) {
    if (name.starts_with("postgresql://") || name.starts_with("postgres://")) {
        return true;
    }
    if (name.find('=') == std::string_view::npos) {
        return false;
    }
    char* parseError = nullptr;
    const ConnectionOptions options(PQconninfoParse(std::string(name).c_str(), &parseError));
    PQfreemem(parseError);
    return options != nullptr;
}

std::string oneLine(std::string_view message) {
    std::string line;
    while (!message.empty()) {
        const std::size_t end = message.find('\n');
        std::string_view piece = message.substr(0, end);
        message = end == std::string_view::npos ? std::string_view() : message.substr(end + 1);
        if (piece.empty() || piece.front() == '\t' || piece.front() == ' ') {
            continue;
        }
        if (!line.empty()) {
            line += "; ";
        }
        for (const char c : piece) {
            if (!(c == ' ' && !line.empty() && line.back() == ' ')) {  // "FATAL:  x" reads "FATAL: x"
                line += c;
            }
        }
    }
    return line.empty() ? "no reason given" : line;
}

Result<OpenedConnection> connectPostgres(const std::string& connection, std::string_view optionName,
                                         std::string_view signInUser, std::string_view signInPassword) {
    char* parseError = nullptr;
    const ConnectionOptions options(PQconninfoParse(connection.c_str(), &parseError));
    if (!options) {
        // libpq quotes the whole text, which may hold a password.
        std::string reason = oneLine(parseError != nullptr ? parseError : "out of memory");
        PQfreemem(parseError);
        const std::string quoted = ": \"" + connection + "\"";
        if (const std::size_t at = reason.find(quoted); at != std::string::npos) {
            reason.erase(at, quoted.size());
        }
        return Status::failure(std::string(optionName) + ": not a PostgreSQL connection: " + reason);
    }
    std::string_view user;
    std::string_view host;
    std::string_view port;
    std::string_view db;
    bool password = false;
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        const std::string_view keyword = option->keyword;
        const std::string_view value = orEmpty(option->val);
        user = keyword == "user" ? value : user;
        host = keyword == "host" ? value : host;
        port = keyword == "port" ? value : port;
        db = keyword == "dbname" ? value : db;
        password = password || (keyword == "password" && option->val != nullptr);
    }
    if (password) {
        // Every user of the computer can read a command line.
        return Status::failure(
            serverName(user, host, port, db) +
            ": a password on the command line is refused; put it in PGPASSWORD or ~/.pgpass");
    }

    // A server that does not answer is given up after a while, unless the user says otherwise
    // (PGCONNECT_TIMEOUT, or connect_timeout in the connection, which comes later and wins).
    std::vector<const char*> keywords{"fallback_application_name"};
    std::vector<const char*> values{"profiledesk-records"};
    if (std::getenv("PGCONNECT_TIMEOUT") == nullptr) {  // NOLINT(concurrency-mt-unsafe)
        keywords.push_back("connect_timeout");
        values.push_back("15");
    }
    keywords.push_back("dbname");
    values.push_back(connection.c_str());
    // After the connection text, so that they win over what it names.
    const std::string role(signInUser);
    const std::string secret(signInPassword);
    if (!role.empty()) {
        keywords.push_back("user");
        values.push_back(role.c_str());
    }
    if (!secret.empty()) {
        keywords.push_back("password");
        values.push_back(secret.c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    OpenedConnection opened{PgConnection(PQconnectdbParams(keywords.data(), values.data(), 1)), {}};
    if (!opened.connection) {
        return Status::failure(serverName(user, host, port, db) + ": out of memory");
    }
    opened.server = serverName(opened.connection.get());
    if (PQstatus(opened.connection.get()) != CONNECTION_OK) {
        return Status::failure(opened.server + ": " + oneLine(PQerrorMessage(opened.connection.get())));
    }
    return opened;
}

}  // namespace profiledesk::office::db
