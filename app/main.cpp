// Kestrane's entry: the single-instance guard and the shared run state (with "collation.txt" from the
// current directory) exist before the application object runs, and go after it.
#include <wx/app.h>
#include <wx/init.h>

#include "platform/RunState.h"
#include "ui/AssertionRoute.h"
#include "ui/PilotConsoleApp.h"
#include "ui/SingleInstanceGuard.h"

int main(int argc, char** argv) {
    kestrane::CSingleInstanceGuard guard;
    kestrane::RunState state;
    kestrane::AppSetup setup;
    setup.guard = &guard;
    setup.state = &state;
    setup.executableDir = kestrane::ExecutableFolder();
    kestrane::RouteAssertionsToStderr();
    wxApp::SetInstance(new kestrane::CPilot_ConsoleApp(setup));
    // The program takes no arguments: only the program name reaches the toolkit.
    int wxArgc = argc > 0 ? 1 : 0;
    return wxEntry(wxArgc, argv);
}
