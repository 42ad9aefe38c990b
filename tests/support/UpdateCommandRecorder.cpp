#include "tests/support/UpdateCommandRecorder.h"

#include "tests/support/MessageLoop.h"

void UpdateCommandRecorder::handleCommandMessage (int commandId)
{
    if (commandId == marker)
        markerSeen = true;
    else
        codes.push_back (commandId);
}

std::vector<int> UpdateCommandRecorder::drain()
{
    markerSeen = false;
    postCommandMessage (marker);
    pumpMessagesUntil ([this] { return markerSeen; });

    auto result = std::move (codes);
    codes.clear();
    return result;
}

bool UpdateCommandRecorder::waitFor (int commandId, int timeoutMs)
{
    return pumpMessagesUntil ([this, commandId]
                              {
                                  return std::find (codes.begin(), codes.end(), commandId) != codes.end();
                              },
                              timeoutMs);
}
