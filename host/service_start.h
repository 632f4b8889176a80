// Whether crvnichost.exe connects to the service control manager as the service process.
//
// The service control manager starts the service with its registered image path as the
// command line. A path registered without quotes ("C:\Program Files\Corvane NIC\crvnichost.exe"
// from an earlier installation) reaches the host split at its blanks into several arguments,
// so the host cannot tell a service start by the argument count. It decides by the words
// instead: only a single installation word ("install", "uninstall", "reinstall") or "runasexe",
// after '-' or '/' and in any case, keeps the host a console program. Every other command line
// is offered to the service control manager first; from a console that connection fails and
// the host runs the agent in the console as before.
#pragma once

namespace crvhost {

bool ConnectsAsService(int argc, const char* const* argv);

}  // namespace crvhost
