// The stand-in where the template engine does not build (Windows): the command says the
// build has no report support instead of drawing a page.

#include "office/report/page.hpp"

namespace profiledesk::office {

const bool kCanDrawReports = false;

std::string renderReportPage(const ReportInput& /*input*/) { return {}; }

}  // namespace profiledesk::office
