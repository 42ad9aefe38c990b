#include "tests/support/UpdateCommandRecorder.h"

#include "tests/support/MessageLoop.h"

std::vector<int> UpdateCommandRecorder::drain()
{
    constexpr int marker = -12345;
    postCommandMessage (marker);
    waitFor (marker);
    codes.erase (std::remove (codes.begin(), codes.end(), marker), codes.end());
    return std::exchange (codes, {});
}

bool UpdateCommandRecorder::waitFor (int commandId, int timeoutMs)
{
    return pumpMessagesUntil ([&] { return std::find (codes.begin(), codes.end(), commandId) != codes.end(); }, timeoutMs);
}
