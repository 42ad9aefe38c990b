#pragma once

/** Deletes the hub, its chain and the device link's singletons, stopping the pump and closing the
    ports before the objects they reach go, so that the next test builds a fresh device link.
*/
void deleteTrafficSingletons();
