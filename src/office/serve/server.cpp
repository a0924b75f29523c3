// The view's HTTP side, with cpp-httplib: who may ask what (access.hpp), the routes, and the
// bounds that keep a slow or hostile client from holding the server. The only file that sees
// the library.

// A correction form holds all seventeen answers: more than the library's 8 KiB of form.
#define CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH 65536
// A page's head and body go out as they are written: with Nagle's delay, each page waited for
// the client's delayed acknowledgement (40 ms on Linux).
#define CPPHTTPLIB_TCP_NODELAY true
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "common/day.hpp"
#include "common/visible.hpp"
#include "office/corrections/corrections.hpp"
#include "office/db/migrate.hpp"
#include "office/db/records_read.hpp"
#include "office/report/page.hpp"
#include "office/report/tally_sql.hpp"
#include "office/serve/access.hpp"
#include "office/serve/browser.hpp"
#include "office/serve/listen_socket.hpp"
#include "office/serve/pages.hpp"
#include "office/serve/serve.hpp"
#include "office/serve/sessions.hpp"
#include "office/serve/stop_signals.hpp"

namespace profiledesk::office::serve {

namespace {

using httplib::Request;
using httplib::Response;

// The bounds on what a client may ask of the server.
constexpr std::size_t kWorkers = 8;   // requests served at once
constexpr std::size_t kWaiting = 32;  // connections waiting for a worker; more are closed at once
constexpr time_t kIoSeconds = 5;      // a read or a write that waits longer fails the request
constexpr std::size_t kMostRequestsOnOneConnection = 100;
constexpr std::size_t kLargestBody = std::size_t{64} * 1024;  // a form's fields, all seventeen answers long
constexpr auto kConnectionTime = std::chrono::seconds(20);    // a connection, however busy, then ends
constexpr std::size_t kLongestText = 1000;                    // a search text, an answer, a reason

constexpr std::string_view kSessionCookie = "profiledesk_session";
constexpr std::string_view kHtml = "text/html; charset=utf-8";
// No script, no frame, nothing fetched from anywhere: only the page's own inline style, and
// forms that post back to the view.
constexpr std::string_view kPolicy =
    "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'; base-uri "
    "'none'";

// Ends connections that outlive kConnectionTime, however slowly they trickle, by shutting
// their sockets: the worker's read or write then fails and the worker is free.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    Watchdog(Watchdog&&) = delete;
    Watchdog& operator=(Watchdog&&) = delete;

    void add(socket_t sock) {
        {
            const std::lock_guard lock(mutex_);
            deadlines_[sock] = std::chrono::steady_clock::now() + kConnectionTime;
        }
        changed_.notify_all();
    }
    // Before the socket is closed, so that its number is never shut once it is another's.
    void remove(socket_t sock) {
        const std::lock_guard lock(mutex_);
        deadlines_.erase(sock);
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            auto next = std::chrono::steady_clock::now() + kConnectionTime;
            const auto now = std::chrono::steady_clock::now();
            for (auto it = deadlines_.begin(); it != deadlines_.end();) {
                if (it->second <= now) {
                    (void)httplib::detail::shutdown_socket(it->first);
                    it = deadlines_.erase(it);
                } else {
                    next = std::min(next, it->second);
                    ++it;
                }
            }
            changed_.wait_until(lock, next);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<socket_t, std::chrono::steady_clock::time_point> deadlines_;
    bool stopping_ = false;
    std::thread thread_;
};

// The library's server, its handling of a connection (the library's own, step for step) with
// the watchdog beside it.
class GuardedServer final : public httplib::Server {
public:
    explicit GuardedServer(Watchdog& watchdog) : watchdog_(watchdog) {}

private:
    bool process_and_close_socket(socket_t sock) override {
        watchdog_.add(sock);
        std::string remoteAddress;
        int remotePort = 0;
        httplib::detail::get_remote_ip_and_port(sock, remoteAddress, remotePort);
        std::string localAddress;
        int localPort = 0;
        httplib::detail::get_local_ip_and_port(sock, localAddress, localPort);
        const bool served = httplib::detail::process_server_socket(
            svr_sock_, sock, keep_alive_max_count_, keep_alive_timeout_sec_, read_timeout_sec_,
            read_timeout_usec_, write_timeout_sec_, write_timeout_usec_,
            [&](httplib::Stream& stream, bool closeConnection, bool& connectionClosed) {
                return process_request(stream, remoteAddress, remotePort, localAddress, localPort,
                                       closeConnection, connectionClosed, nullptr);
            });
        watchdog_.remove(sock);
        (void)httplib::detail::shutdown_socket(sock);
        (void)httplib::detail::close_socket(sock);
        return served;
    }

    Watchdog& watchdog_;
};

int statusOf(const Status& status) {
    switch (status.code()) {
        case Status::Code::usage: return 400;
        case Status::Code::accessDenied: return 403;
        case Status::Code::notFound: return 404;
        case Status::Code::conflict: return 409;
        default: return 500;
    }
}

std::string parameter(const Request& request, const std::string& name) {
    return request.has_param(name) ? request.get_param_value(name) : std::string();
}

// What the gate found out about a request.
struct Visit {
    std::shared_ptr<Session> session;
    std::string token;
};

class View {
public:
    View(const ServeOptions& options, ListenAddress address, std::string secret, Streams& console)
        : options_(options),
          address_(std::move(address)),
          secret_(std::move(secret)),
          console_(console),
          postgres_(db::namesPostgres(options.db)),
          signInAsked_(postgres_ || !address_.loopback) {}

    void setPort(int port) { port_ = port; }

    void install(httplib::Server& server) {
        server.Get("/", guarded([this](const Request& q, Response& r, const Visit& v) { search(q, r, v); }));
        server.Get("/record/:key",
                   guarded([this](const Request& q, Response& r, const Visit& v) { record(q, r, v); }));
        server.Post("/record/:key/:action",
                    guarded([this](const Request& q, Response& r, const Visit& v) { change(q, r, v); }));
        server.Get("/desks",
                   guarded([this](const Request& q, Response& r, const Visit& v) { desks(q, r, v); }));
        server.Get("/report",
                   guarded([this](const Request& q, Response& r, const Visit& v) { reportForm(q, r, v); }));
        server.Get("/report/page",
                   guarded([this](const Request& q, Response& r, const Visit& v) { reportPage(q, r, v); }));
        server.Get("/look",
                   guarded([this](const Request& q, Response& r, const Visit& v) { look(q, r, v); }));
        server.Get(
            "/signin",
            guarded([this](const Request& q, Response& r, const Visit& v) { signInForm(q, r, v); }, false));
        server.Post(
            "/signin",
            guarded([this](const Request& q, Response& r, const Visit& v) { signIn(q, r, v); }, false));
        server.Post(
            "/signout",
            guarded([this](const Request& q, Response& r, const Visit& v) { signOut(q, r, v); }, false));
        server.set_post_routing_handler([](const Request& /*request*/, Response& response) {
            response.set_header("Content-Security-Policy", std::string(kPolicy));
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_header("X-Frame-Options", "DENY");
            // Not no-referrer: with it a browser sends "Origin: null" on the view's own forms.
            response.set_header("Referrer-Policy", "same-origin");
            response.set_header("Cache-Control", "no-store");
            response.set_header("Cross-Origin-Opener-Policy", "same-origin");
            response.set_header("Cross-Origin-Resource-Policy", "same-origin");
        });
        server.set_error_handler([](const Request& /*request*/, Response& response) {
            if (response.body.empty()) {
                const std::string title = response.status == 404   ? "No such page"
                                          : response.status == 413 ? "Too much was sent"
                                                                   : "The request was refused";
                html(response, response.status, Frame{title, {}, {}, false, false, {}, {}},
                     messageBody("Go back, or start again from the address the view printed."));
            }
        });
        server.set_exception_handler([this](const Request& /*request*/, Response& response,
                                            const std::exception_ptr& thrown) {
            std::string reason = "unknown";
            try {
                std::rethrow_exception(thrown);
            } catch (const std::exception& error) {
                reason = error.what();
            } catch (...) {  // NOLINT(bugprone-empty-catch): told below
            }
            tell("a page failed: " + reason);
            html(response, 500, Frame{"The page failed", {}, {}, false, true, {}, {}}, messageBody(reason));
        });
    }

    void tell(const std::string& message) {
        const std::lock_guard lock(tellMutex_);
        tellError(console_, message);
    }

private:
    using Handler = std::function<void(const Request&, Response&, const Visit&)>;

    static void html(Response& response, int status, const Frame& frame, const std::string& body) {
        response.status = status;
        response.set_content(page(frame, body), std::string(kHtml));
    }

    static void refuse(Response& response, int status, const std::string& title, const std::string& why) {
        html(response, status, Frame{title, {}, {}, false, false, {}, {}}, messageBody(why));
    }

    Frame frameFor(const Visit& visit, std::string title) const {
        Frame frame{std::move(title), {}, {}, false, true, {}, {}};
        if (visit.session) {
            frame.clerk = visit.session->clerk;
            frame.csrf = visit.session->csrf;
            frame.signOut = signInAsked_ && !visit.session->clerk.empty();
        }
        return frame;
    }

    // Every route goes through here first: the printed address's secret on loopback, a page of
    // the view's own for any change, and a clerk signed in where that is asked.
    void gate(const Request& request, Response& response, Visit& visit, bool signInNeeded, bool& allowed) {
        allowed = false;
        const std::string host = request.get_header_value("Host");
        if (!hostIsOurs(host, address_, port_)) {
            return refuse(response, 403, "Refused", "This view answers only to the address it printed.");
        }
        visit.token = cookieValue(request.get_header_value("Cookie"), kSessionCookie);
        const auto now = Clock::now();
        visit.session = visit.token.empty() ? nullptr : sessions_.find(visit.token, now);
        const bool post = request.method == "POST";
        if (address_.loopback) {
            const std::string key = parameter(request, "key");
            if (!key.empty() && !post) {
                if (!sameSecret(key, secret_)) {
                    return refuse(response, 403, "Refused", "This is not the key the view printed.");
                }
                if (!visit.session || !visit.session->keyShown) {
                    auto session = std::make_shared<Session>();
                    session->keyShown = true;
                    session->clerk = signInAsked_ ? std::string() : defaultClerk();
                    visit.token = sessions_.add(std::move(session), now);
                    response.set_header("Set-Cookie", cookieHeader(kSessionCookie, visit.token));
                }
                // The address without its key, so that it stays in no history nor bookmark.
                httplib::Params rest = request.params;
                rest.erase("key");
                std::vector<std::pair<std::string, std::string>> kept(rest.begin(), rest.end());
                // The routes' paths are plain; a key of a record is hex digits and '-'.
                const bool plain =
                    request.path.find_first_not_of(
                        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/-_.") ==
                    std::string::npos;
                response.set_redirect(linkTo(plain ? request.path : std::string("/"), kept), 303);
                return;
            }
            if (!visit.session || !visit.session->keyShown) {
                return refuse(response, 403, "Refused",
                              "Open the address the view printed when it started: it holds the view's key.");
            }
        }
        if (post) {
            if (!fromOwnPages(request.get_header_value("Origin"), request.get_header_value("Sec-Fetch-Site"),
                              host)) {
                return refuse(response, 403, "Refused",
                              "A form from another site cannot change the office's records.");
            }
            const bool signingIn = request.path == "/signin";
            if (!signingIn &&
                (!visit.session || !sameSecret(parameter(request, "csrf"), visit.session->csrf))) {
                return refuse(response, 403, "Refused",
                              "This form is out of date, or not one of the view's: load the page again.");
            }
        }
        if (signInNeeded && signInAsked_ && (!visit.session || visit.session->clerk.empty())) {
            if (post) {
                return refuse(response, 403, "Refused", "Sign in first.");
            }
            response.set_redirect("/signin", 303);
            return;
        }
        allowed = true;
    }

    httplib::Server::Handler guarded(Handler handler, bool signInNeeded = true) {
        return
            [this, handler = std::move(handler), signInNeeded](const Request& request, Response& response) {
                Visit visit;
                bool allowed = false;
                gate(request, response, visit, signInNeeded, allowed);
                if (allowed) {
                    handler(request, response, visit);
                }
            };
    }

    std::string defaultClerk() const { return options_.by.empty() ? options_.login : options_.by; }

    // Runs `use` on the database the visit reads or writes: the clerk's own connection on
    // PostgreSQL, one at a time; on SQLite a connection of the request's own.
    Status withDatabase(const Visit& visit, db::Access access,
                        const std::function<Status(db::Database&)>& use) {
        if (postgres_) {
            if (!visit.session || !visit.session->db) {
                return Status::failure(Status::Code::accessDenied, "sign in first");
            }
            const std::lock_guard lock(visit.session->use);
            return use(*visit.session->db);
        }
        // Each worker keeps its own connection that reads: opening one costs more than a page does.
        thread_local std::unique_ptr<db::Database> reader;
        thread_local const View* readerOf = nullptr;
        if (access == db::Access::read && reader && readerOf == this) {
            Status status = use(*reader);
            if (status.code() == Status::Code::ioError) {
                reader.reset();  // a file replaced or gone: opened again next time
            }
            return status;
        }
        auto opened = db::openOffice(options_.db, access, db::OpenOptions{"--db", options_.waitSeconds},
                                     [this](const std::string& told) { tell(told); });
        if (!opened.isOk()) {
            return opened.status();
        }
        Status status = use(*opened.value());
        if (access == db::Access::read) {
            reader = std::move(opened).value();
            readerOf = this;
        }
        return status;
    }

    Clerk clerkOf(const Visit& visit) const { return Clerk{visit.session->clerk, options_.now()}; }

    // The days a form asks for, or why not.
    static Status datesOf(const std::string& from, const std::string& to, DateRange& dates) {
        if (!from.empty() && !(dates.from = Day::parse(from))) {
            return Status::usage("'" + from + "' is not a day (YYYY-MM-DD)");
        }
        if (!to.empty() && !(dates.to = Day::parse(to))) {
            return Status::usage("'" + to + "' is not a day (YYYY-MM-DD)");
        }
        if (dates.from && dates.to && *dates.from > *dates.to) {
            return Status::usage("the first day is later than the last");
        }
        return Status::ok();
    }

    static std::size_t pageOf(const Request& request) {
        const std::string text = parameter(request, "page");
        std::size_t number = 1;
        if (!text.empty() && text.size() < 7 && text.find_first_not_of("0123456789") == std::string::npos) {
            number = std::max<std::size_t>(std::stoul(text), 1);
        }
        return number;
    }

    static std::string pageLink(const std::string& path,
                                std::vector<std::pair<std::string, std::string>> parameters,
                                std::size_t page) {
        parameters.emplace_back("page", std::to_string(page));
        return linkTo(path, parameters);
    }

    void search(const Request& request, Response& response, const Visit& visit) {
        SearchForm form;
        form.query.text = parameter(request, "q").substr(0, kLongestText);
        form.query.field = parameter(request, "field");
        form.query.desk = parameter(request, "desk");
        form.query.everything = parameter(request, "everything") == "yes";
        form.query.page = pageOf(request);
        form.from = parameter(request, "from");
        form.to = parameter(request, "to");
        Frame frame = frameFor(visit, "Search the records");
        Status status = datesOf(form.from, form.to, form.query.dates);
        form.searched = status.isOk() && (request.has_param("q") || request.has_param("desk"));
        if (form.searched) {
            status = withDatabase(visit, db::Access::read, [&form](db::Database& db) {
                return searchRecords(db, form.query, form.found);
            });
            std::vector<std::pair<std::string, std::string>> kept{{"q", form.query.text}};
            for (const char* name : {"field", "desk", "from", "to", "everything"}) {
                if (request.has_param(name)) {
                    kept.emplace_back(name, parameter(request, name));
                }
            }
            form.previous = form.query.page > 1 ? pageLink("/", kept, form.query.page - 1) : std::string();
            form.next = form.found.more ? pageLink("/", kept, form.query.page + 1) : std::string();
        }
        frame.error = status.isOk() ? std::string() : status.message();
        html(response, status.isOk() ? 200 : statusOf(status), frame, searchBody(form));
    }

    static std::string doneNotice(const std::string& done) {
        if (done == "corrected") {
            return "The corrections were saved.";
        }
        if (done == "reviewed") {
            return "The state was set.";
        }
        if (done == "forgotten") {
            return "The answers were erased in the database; the desk's own file still holds them.";
        }
        return done == "unchanged" ? "Nothing was changed: every value was as it is." : std::string();
    }

    // The record page, with a notice or the reason a change was refused.
    void showRecord(Response& response, const Visit& visit, const std::string& key, int status, Frame frame) {
        OfficeRecord shownRecord;
        const Status read = withDatabase(visit, db::Access::read, [&](db::Database& db) {
            Result<std::vector<std::string>> keys = resolveKeys(db, std::span(&key, 1));
            Result<OfficeRecord> found =
                keys.isOk() ? readRecord(db, keys.value().front()) : Result<OfficeRecord>(keys.status());
            if (!found.isOk()) {
                return found.status();
            }
            shownRecord = std::move(found).value();
            return Status::ok();
        });
        if (!read.isOk()) {
            frame.title = "No such record";
            frame.error = read.message();
            return html(response, statusOf(read), frame, std::string());
        }
        frame.title = "Record " + shownRecord.key.substr(0, 12);
        html(response, status, frame,
             recordBody(shownRecord, visit.session ? visit.session->csrf : std::string()));
    }

    void record(const Request& request, Response& response, const Visit& visit) {
        Frame frame = frameFor(visit, "Record");
        frame.notice = doneNotice(parameter(request, "done"));
        showRecord(response, visit, request.path_params.at("key"), 200, frame);
    }

    void change(const Request& request, Response& response, const Visit& visit) {
        const std::string& key = request.path_params.at("key");
        const std::string& action = request.path_params.at("action");
        const std::string why = parameter(request, "why");
        const std::string revisionText = parameter(request, "revision");
        std::optional<std::int64_t> revision;
        if (!revisionText.empty() && revisionText.size() < 18 &&
            revisionText.find_first_not_of("0123456789") == std::string::npos) {
            revision = std::stoll(revisionText);
        }
        std::string done;
        std::string resolved;
        const Status status = withDatabase(visit, db::Access::write, [&](db::Database& db) -> Status {
            Result<std::vector<std::string>> keys = resolveKeys(db, std::span(&key, 1));
            if (!keys.isOk()) {
                return keys.status();
            }
            resolved = keys.value().front();
            const Clerk clerk = clerkOf(visit);
            if (action == "correct") {
                if (!revision) {
                    return Status::usage("the form has no revision: load the page again");
                }
                Result<OfficeRecord> now = readRecord(db, keys.value().front());
                if (!now.isOk()) {
                    return now.status();
                }
                // Only the answers the clerk changed: each is shown as text, as the page showed it.
                std::vector<FieldValue> values;
                for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
                    const std::string name(kColumns.at(i).name);
                    if (request.has_param(name) &&
                        request.get_param_value(name) != visibleText(now.value().now.at(i))) {
                        values.push_back({name, request.get_param_value(name)});
                    }
                }
                if (values.empty()) {
                    done = "unchanged";
                    return Status::ok();
                }
                if (why.empty()) {
                    return Status::usage("say why the answers are corrected");
                }
                done = "corrected";
                return correct(db, keys.value(), values, clerk, why, revision);
            }
            if (action == "review") {
                if (!revision) {
                    return Status::usage("the form has no revision: load the page again");
                }
                done = "reviewed";
                return review(db, keys.value(), parameter(request, "state"), clerk, why, revision);
            }
            if (action == "forget") {
                if (parameter(request, "sure") != "yes") {
                    return Status::usage("tick the box to say that the answers are to be erased");
                }
                if (why.empty()) {
                    return Status::usage("say why the answers are erased");
                }
                done = "forgotten";
                return forget(db, keys.value(), clerk, why);
            }
            return Status::failure(Status::Code::notFound, "no such change: " + action);
        });
        if (status.isOk()) {
            return response.set_redirect(linkTo("/record/" + resolved, {{"done", done}}), 303);
        }
        Frame frame = frameFor(visit, "Record");
        frame.error = status.message();
        showRecord(response, visit, key, statusOf(status), frame);
    }

    void desks(const Request& /*request*/, Response& response, const Visit& visit) {
        std::vector<DeskSummary> desks;
        const Status status = withDatabase(visit, db::Access::read,
                                           [&desks](db::Database& db) { return deskSummaries(db, desks); });
        Frame frame = frameFor(visit, "Desks");
        frame.error = status.isOk() ? std::string() : status.message();
        html(response, status.isOk() ? 200 : statusOf(status), frame, desksBody(desks));
    }

    void reportForm(const Request& request, Response& response, const Visit& visit) {
        html(response, 200, frameFor(visit, "Report"),
             reportFormBody(parameter(request, "from"), parameter(request, "to")));
    }

    void reportPage(const Request& request, Response& response, const Visit& visit) {
        const std::string from = parameter(request, "from");
        const std::string to = parameter(request, "to");
        ReportInput input{"Records office report", {}, {}, {}, {}};
        Status status = datesOf(from, to, input.dates);
        status = status.isOk()
                     ? withDatabase(visit, db::Access::read,
                                    [&input](db::Database& db) {
                                        input.database = db.name();
                                        return countRecords(db, db::RecordFilter{input.dates}, input.counts);
                                    })
                     : status;
        if (!status.isOk()) {
            Frame frame = frameFor(visit, "Report");
            frame.error = status.message();
            return html(response, statusOf(status), frame, reportFormBody(from, to));
        }
        response.set_content(renderReportPage(input), std::string(kHtml));
    }

    void look(const Request& request, Response& response, const Visit& visit) {
        ListPage found;
        const std::size_t number = pageOf(request);
        const Status status = withDatabase(
            visit, db::Access::read, [&](db::Database& db) { return recordsToLookAt(db, number, found); });
        Frame frame = frameFor(visit, "Records that need a look");
        frame.error = status.isOk() ? std::string() : status.message();
        html(response, status.isOk() ? 200 : statusOf(status), frame,
             lookBody(found, number > 1 ? pageLink("/look", {}, number - 1) : std::string(),
                      found.more ? pageLink("/look", {}, number + 1) : std::string()));
    }

    void signInForm(const Request& /*request*/, Response& response, const Visit& visit) {
        if (!signInAsked_ || (visit.session && !visit.session->clerk.empty())) {
            return response.set_redirect("/", 303);
        }
        Frame frame = frameFor(visit, "Sign in");
        frame.navigation = false;
        html(response, 200, frame, signInBody(postgres_, {}));
    }

    void signIn(const Request& request, Response& response, const Visit& visit) {
        const std::string user = parameter(request, "user").substr(0, kLongestText);
        const std::string password = parameter(request, "password");
        auto session = std::make_shared<Session>();
        session->keyShown = visit.session && visit.session->keyShown;
        Status status = Status::ok();
        if (user.empty() || password.empty()) {
            status = Status::usage(postgres_ ? "give your role and its password"
                                             : "give your name and the office's key");
        } else if (postgres_) {
            auto opened = db::openOffice(options_.db, db::Access::read,
                                         db::OpenOptions{"--db", options_.waitSeconds, user, password},
                                         [this](const std::string& told) { tell(told); });
            Result<std::string> role =
                opened.isOk() ? clerkName(*opened.value(), {}, {}) : Result<std::string>(opened.status());
            if (role.isOk()) {
                session->clerk = role.value();
                session->db = std::move(opened).value();
            }
            status = role.status();
        } else if (!sameSecret(password, secret_)) {
            status = Status::failure(Status::Code::accessDenied, "that is not the office's key");
        } else {
            // The name as the command line's --by takes it.
            auto opened =
                db::openOffice(options_.db, db::Access::read, db::OpenOptions{"--db", options_.waitSeconds},
                               [this](const std::string& told) { tell(told); });
            Result<std::string> name =
                opened.isOk() ? clerkName(*opened.value(), user, {}) : Result<std::string>(opened.status());
            status = name.status();
            session->clerk = name.isOk() ? name.value() : std::string();
        }
        if (!status.isOk()) {
            Frame frame = frameFor(visit, "Sign in");
            frame.navigation = false;
            frame.error = status.message();
            return html(response, 403, frame, signInBody(postgres_, user));
        }
        // A new token once signed in: one known before stands for nobody.
        if (!visit.token.empty()) {
            sessions_.remove(visit.token);
        }
        const std::string token = sessions_.add(std::move(session), Clock::now());
        response.set_header("Set-Cookie", cookieHeader(kSessionCookie, token));
        response.set_redirect("/", 303);
    }

    void signOut(const Request& /*request*/, Response& response, const Visit& visit) {
        sessions_.remove(visit.token);
        if (address_.loopback && visit.session && visit.session->keyShown) {
            // This browser still came by the printed address: it may sign in again.
            auto session = std::make_shared<Session>();
            session->keyShown = true;
            response.set_header("Set-Cookie",
                                cookieHeader(kSessionCookie, sessions_.add(session, Clock::now())));
        } else {
            response.set_header("Set-Cookie", cookieHeader(kSessionCookie, "", true));
        }
        response.set_redirect(signInAsked_ ? "/signin" : "/", 303);
    }

    const ServeOptions& options_;
    ListenAddress address_;
    std::string secret_;
    Streams& console_;
    bool postgres_;
    bool signInAsked_;
    int port_ = 0;
    Sessions sessions_;
    std::mutex tellMutex_;
};

}  // namespace

int runServe(const ServeOptions& options, Streams& console) {
    Result<ListenAddress> listen = parseListen(options.listen);
    if (!listen.isOk()) {
        return tellFailure(console, listen.status());
    }
    const bool postgres = db::namesPostgres(options.db);
    if (postgres && !options.by.empty()) {
        return tellFailure(console,
                           Status::usage("--by: on PostgreSQL each clerk signs in, and changes are kept "
                                         "under the role they sign in as"));
    }
    if (!postgres) {
        // The database is there and is the office's, before any clerk is told to come.
        auto opened =
            db::openOffice(options.db, db::Access::read, db::OpenOptions{"--db", options.waitSeconds},
                           [&console](const std::string& told) { tellError(console, told); });
        if (!opened.isOk()) {
            return tellFailure(console, opened.status());
        }
    }
    const std::string secret = newToken();
    View view(options, listen.value(), secret, console);
    Watchdog watchdog;
    GuardedServer server(watchdog);
    // The library takes the queue it is handed and deletes it.
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers, kWaiting); };  // NOLINT
    server.set_read_timeout(kIoSeconds);
    server.set_write_timeout(kIoSeconds);
    server.set_keep_alive_timeout(kIoSeconds);
    server.set_keep_alive_max_count(kMostRequestsOnOneConnection);
    server.set_payload_max_length(kLargestBody);
    server.set_socket_options([](socket_t socket) { keepPortToItself(static_cast<std::uintptr_t>(socket)); });
    view.install(server);

    const ListenAddress& address = listen.value();
    int port = address.port;
    if (port == 0) {
        port = server.bind_to_any_port(address.host);
    } else if (!server.bind_to_port(address.host, port)) {
        port = -1;
    }
    if (port <= 0) {
        return tellFailure(console,
                           Status::failure("--listen: cannot listen on " + originOf(address, address.port) +
                                           " (in use, or not an address of this computer)"));
    }
    view.setPort(port);
    const std::string origin = originOf(address, port);
    const std::string printed = address.loopback ? origin + "/?key=" + secret : origin + "/";
    int signal = 0;
    {
        // Before the address is out: from then on, Ctrl+C is the way to stop.
        const StopOnSignal stopping([&server] {
            server.wait_until_ready();  // a stop asked before the server runs would be lost
            server.stop();
        });
        console.out << "Serving " << visibleText(options.db) << " at " << printed << "\n";
        if (!address.loopback && !postgres) {
            console.out << "Clerks sign in with their name and the office's key: " << secret << "\n";
        }
        console.out << "Ctrl+C stops it.\n";
        console.out.flush();
        if (tellIfOutputFailed(console)) {
            return 1;
        }
        if (options.openBrowser) {
            (void)openInBrowser(printed);
        }
        (void)server.listen_after_bind();
        signal = StopOnSignal::signalled();
    }
    console.out << "Stopped.\n";
    console.out.flush();
    endBy(signal);
    return 0;
}

}  // namespace profiledesk::office::serve
