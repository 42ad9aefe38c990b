#include "tests/support/UpdateCommandRecorder.h"

#include "tests/support/MessageLoop.h"

static constexpr int marker = -12345;

std::vector<int> UpdateCommandRecorder::drain()
{
    postCommandMessage (marker);
    waitFor (marker);
    codes.erase (std::remove (codes.begin(), codes.end(), marker), codes.end());
    return std::exchange (codes, {});
}

bool UpdateCommandRecorder::waitFor (int commandId, int timeoutMs)
{
    return pumpMessagesUntil ([&] { return std::find (codes.begin(), codes.end(), commandId) != codes.end(); }, timeoutMs);
}
