#pragma once

/** Deletes the device link's singletons, newest first, as the framework's shutdown would,
    so that the next test builds fresh ones. Closes the ports on the way.
*/
void deleteDeviceLinkSingletons();
