#pragma once

/** Deletes the device link's singletons, newest first, as the framework's shutdown would (closing
    the ports on the way), so that the next test builds fresh ones.
*/
void deleteDeviceLinkSingletons();
