#pragma once

// The view's pages as HTML, drawn with kainjow's mustache as the report page is, in its look:
// every value goes through the engine's escaping, and every stored byte is shown as text (the
// controls and stray bytes as visibleText shows them). No page has a script: each link and form
// works as plain HTML.

#include <string>
#include <vector>

#include "office/corrections/corrections.hpp"
#include "office/serve/view_data.hpp"

namespace profiledesk::office::serve {

// What every page has around its own part.
struct Frame {
    std::string title;
    std::string clerk;     // who is signed in; empty: nobody (or no sign-in asked)
    std::string csrf;      // the session's form token, for the sign-out form
    bool signOut = false;  // whether to offer signing out
    bool navigation = true;
    std::string notice;  // what the last action did
    std::string error;   // why it was refused
};

std::string page(const Frame& frame, const std::string& body);

// The search form as filled in, with what it found when a search was made.
struct SearchForm {
    SearchQuery query;
    std::string from;  // as typed
    std::string to;
    bool searched = false;
    ListPage found;
    std::string previous;  // the links to the pages before and after, or empty
    std::string next;
};
std::string searchBody(const SearchForm& form);

std::string recordBody(const OfficeRecord& record, const std::string& csrf);

std::string desksBody(const std::vector<DeskSummary>& desks);

std::string reportFormBody(const std::string& from, const std::string& to);

std::string lookBody(const ListPage& found, const std::string& previous, const std::string& next);

// The sign-in form: a PostgreSQL role and its password, or a clerk's name and the office's key.
std::string signInBody(bool postgres, const std::string& user);

// A page that says only why it is refused, or what to do instead.
std::string messageBody(const std::string& message);

// "/?q=...&page=2": a path and its query, each value percent-encoded.
std::string linkTo(std::string path, const std::vector<std::pair<std::string, std::string>>& parameters);

}  // namespace profiledesk::office::serve
