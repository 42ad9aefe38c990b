#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

TEST (MidiPorts, AnInstalledBackendReplacesJucesUntilItIsRemoved)
{
    auto* juceBackend = &MidiPorts::get();
    EXPECT_EQ (juceBackend->openOutput (-1), nullptr);
    EXPECT_EQ (juceBackend->openInput (juceBackend->getInputDevices().size(), nullptr), nullptr);

    VirtualMidiDevice device ("Norvo Out", "Norvo In");

    {
        const VirtualMidiDevice::ScopedInstall install (device);
        EXPECT_NE (&MidiPorts::get(), juceBackend);
        EXPECT_EQ (MidiPorts::get().getOutputDevices()[0].name, "Norvo Out");
    }

    EXPECT_EQ (&MidiPorts::get(), juceBackend);
}
