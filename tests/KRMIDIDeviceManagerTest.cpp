#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "tests/support/DeviceLinkSingletons.h"

#include <gtest/gtest.h>

namespace
{
    struct NamedListener : public MIDIDeviceInterfaceListener
    {
        NamedListener (juce::StringArray& logToUse, const juce::String& nameToUse) : log (logToUse), name (nameToUse) {}

        void deviceConnected() override     { log.add (name + " connected"); }
        void deviceDisconnected() override  { log.add (name + " disconnected"); }
        void deviceCloseIgnored() override  { log.add (name + " ignored"); }

        juce::StringArray& log;
        juce::String name;
    };

    struct DeviceManagerTest : public ::testing::Test
    {
        void TearDown() override    { deleteDeviceLinkSingletons(); }
    };
}

TEST_F (DeviceManagerTest, CreationRegistersWithTheStateMachineAndStartsTheTickOnce)
{
    auto* manager = MIDIManager::getInstance();
    EXPECT_FALSE (manager->isTimerRunning());

    auto* devices = KRMIDIDeviceManager::getInstance();
    EXPECT_TRUE (manager->isTimerRunning());
    EXPECT_EQ (manager->getTimerInterval(), 100);

    manager->stopTimer();
    EXPECT_EQ (KRMIDIDeviceManager::getInstance(), devices);
    EXPECT_FALSE (manager->isTimerRunning());
    EXPECT_EQ (manager->getStateMachine().getNumDeviceListeners(), 1);
}

TEST_F (DeviceManagerTest, PrintsEachEventAndCallsTheMatchingOperationFromTheLastListener)
{
    juce::StringArray log;
    NamedListener first (log, "first"), second (log, "second");
    auto* devices = KRMIDIDeviceManager::getInstance();
    MIDIManager::getInstance()->stopTimer();

    testing::internal::CaptureStdout();
    devices->conectEvent (0);   // no listener yet: only the line
    devices->addConnectionListener (&first);
    devices->addConnectionListener (&second);
    devices->addConnectionListener (&first);

    for (int event : { 0, 1, 2, 3, -1 })
        devices->conectEvent (event);

    EXPECT_EQ (testing::internal::GetCapturedStdout(),
               "conectevent event :0\nconectevent event :0\nconectevent event :1\n"
               "conectevent event :2\nconectevent event :3\nconectevent event :-1\n");

    EXPECT_EQ (log, juce::StringArray ({ "second connected", "first connected",
                                         "second disconnected", "first disconnected",
                                         "second ignored", "first ignored" }));
}

TEST_F (DeviceManagerTest, SetDeviceTypeLeavesTheKindAloneOnlyFor3And4)
{
    auto* devices = KRMIDIDeviceManager::getInstance();
    MIDIManager::getInstance()->stopTimer();
    auto* vars = ConstVar::getInstance();

    for (int type : { 0, 1, 2, 3, 4, 5, 255, -3 })
    {
        vars->deviceKind = 9;
        devices->setDeviceType (type);
        EXPECT_EQ (vars->deviceKind, type == 3 || type == 4 ? 9 : 2) << type;
    }
}

TEST_F (DeviceManagerTest, DeviceVariablesStartWithTheirDefaultsAndAreRebuiltAfterDeletion)
{
    const juce::StringArray expected { "-", "Metal", "World", "Indie", "Country", "Rock",
                                       "Funk", "Pop", "Blues", "Jazz", "Bass", "Acoustic" };

    for (int round = 0; round < 2; ++round)
    {
        auto* vars = ConstVar::getInstance();
        EXPECT_EQ (vars->deviceKind, 2);
        EXPECT_FALSE (vars->dataEnabled);
        EXPECT_TRUE (vars->isFullSizeModel);
        EXPECT_EQ (vars->factor, 1.0f);

        for (int i = 0; i < ConstVar::numCategoryNames; ++i)
            EXPECT_EQ (vars->categoryNames[i], i < expected.size() ? expected[i] : juce::String()) << i;

        vars->isFullSizeModel = false;
        vars->deviceKind = 4;
        ConstVar::deleteInstance();
    }
}
