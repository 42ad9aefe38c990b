#pragma once

/** Deletes the hub, its chain (sender, transport, dispatcher) and the device link's
    singletons, in an order that stops the pump and closes the ports before the objects
    they reach go, so that the next test builds a fresh, fully wired device link.
*/
void deleteTrafficSingletons();
