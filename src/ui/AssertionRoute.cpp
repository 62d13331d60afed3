#include "ui/AssertionRoute.h"

#include <wx/string.h>

#include <cstdio>

namespace kestrane {

namespace {

void WriteAssertion(const wxString& file, int line, const wxString& function, const wxString& condition,
                    const wxString& message) {
    std::fprintf(stderr, "toolkit assertion failed: %s (%s) in %s at %s:%d\n",
                 static_cast<const char*>(condition.utf8_str()), static_cast<const char*>(message.utf8_str()),
                 static_cast<const char*>(function.utf8_str()), static_cast<const char*>(file.utf8_str()), line);
}

}  // namespace

wxAssertHandler_t RouteAssertionsToStderr() { return wxSetAssertHandler(WriteAssertion); }

}  // namespace kestrane
