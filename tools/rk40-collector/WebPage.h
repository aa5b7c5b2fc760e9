#pragma once

// The service's web page: its HTML, CSS and JavaScript files, built into the
// program as resources (web.qrc), served at / beside the API on the same
// origin. The page is a client of the API alone; it takes nothing from other
// hosts (the Content-Security-Policy says so to the browser).

#include "HttpTransport.h"

namespace collector {

class WebPage {
public:
    // Answers a GET for one of the page's files and says true; false for
    // every other request (the API's).
    static bool serve(const ApiRequest& request, const Responder& responder);
};

} // namespace collector
