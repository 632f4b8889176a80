// The agent's one worker thread: it builds the interface list and publishes it, then waits
// one poll interval at a time on the two wake events; after each quiet interval it
// republishes, or rebuilds when the interface table changed. A failed build is retried
// after doubling waits; after the sixth failure in a row the thread ends.
//
// While a model exists the thread also waits on the interface change watch's event
// (interface_change_watch.h): an announced change runs the same pass at once, followed by a
// one-second pause in which further notifications only gather, so a link change is
// published within about a second and a storm costs at most one extra pass a second. The
// link state watch (link_state_watch.h) looks at the links no notification announces (team
// members') every quarter second of the wait, and a change it sees starts the same pass.
#pragma once

#include <cstdint>

namespace crv {

class CIFList;
class CTrap;

// Thread entry in the form _beginthread expects; argument is the service's DCStruct, of
// which only the wake events and the poll interval are read.
void DataCollectionThread(void* argument);

// Creates and builds an interface list into *list (null on failure); 0 or the build's error.
uint32_t InitializeDataCollection(CIFList** list, CTrap* trap);

}  // namespace crv
