// The registration of CRVNicMgmt as a source of the Application log, written and removed by
// the installation words beside the service's own registration. Either step that fails costs
// one report on the debugger output; the console lines of the words never change.
#pragma once

namespace crv {

// Creates or updates the source's key: EventMessageFile = the agent module's full path,
// TypesSupported = error, warning and information.
void RegisterEventSourceKey();
// Deletes the source's key; a key that is not there is no failure.
void RemoveEventSourceKey();

}  // namespace crv
