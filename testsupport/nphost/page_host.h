// A page for the test browser: the platform's JScript engine (IActiveScript) runs a script file
// with the plug-in instances' scriptable objects as globals `plugin`, `plugin2`, ..., and the
// host's own globals:
//   print(text)             the text as UTF-8 and a line end on stdout
//   done()                  ends the page once the current script returns
//   setTimeout(fn, ms)      calls fn (a function, or code as text) after ms milliseconds
//   run(commandLine)        runs a program, waits for it, answers its exit code (its output
//                           goes to stderr, so stdout holds only what the page prints)
// Every "javascript:" URL that a plug-in opens in "_self" is evaluated in the page's engine
// from the message loop, as a browser would.
#pragma once

#include <string>

#include "nphost.h"

namespace nphost {

struct PageOptions {
    std::wstring scriptPath;
    int instances = 1;
    double timeoutSeconds = 30;
    // Gives the instances their windows only after the page's top-level code has run.
    bool windowAfterLoad = false;
};

// Exit codes of a page run.
enum PageExit {
    kPageDone = 0,          // the page called done()
    kPageNotUsable = 3,     // the plug-in, the script file or the engine could not be set up
    kPageScriptError = 4,   // a script error; its message is on stderr
    kPageTimeout = 5,       // the timeout passed before done()
};

// The browser must have its plug-in loaded and initialised.
int RunPage(Browser& browser, const PageOptions& options);

}  // namespace nphost
