// The host's run-time services, reached through the RunHeader of each object.
#include "runtime/host.h"

static HostService Service(RunData* rd, int entry) {
    void* const* header = static_cast<void* const*>(GetRunHeader(rd));
    return reinterpret_cast<HostService>(header[entry]);
}

void HostReHandle(RunData* rd) { Service(rd, RunHeaderReHandle)(rd, 0, 0); }

void HostGenerateEvent(RunData* rd, int32_t condition) {
    Service(rd, RunHeaderGenerateEvent)(rd, static_cast<uint32_t>(condition), 0);
}

HostValue HostGetFirstParameter(RunData* rd, uint32_t type, uint32_t pass) {
    return Service(rd, RunHeaderGetFirstParameter)(rd, type, pass);
}

HostValue HostGetNextParameter(RunData* rd, uint32_t type, uint32_t pass) {
    return Service(rd, RunHeaderGetNextParameter)(rd, type, pass);
}
