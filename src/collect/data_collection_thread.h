// The agent's one worker thread: it waits one poll interval at a time on the two wake events
// and acts on each time-out. It runs until the process ends.
#pragma once

namespace crv {

// Thread entry in the form _beginthread expects; argument is the service's DCStruct, of
// which only the wake events and the poll interval are read.
void DataCollectionThread(void* argument);

}  // namespace crv
