#include <gtest/gtest.h>

#include "tests/support/PageTesting.h"
#include "ui/ConnectedView.h"
#include "ui/DisconnectedView.h"
#include "ui/UpdateView.h"

// Writes every face of every page, in both languages and for both models, as
// PNG files next to the test executable, to be looked at by eye.

namespace
{
    void writeSnapshot (juce::Component& page, const juce::String& name)
    {
        const auto file = snapshotFolder().getChildFile (name + ".png");
        file.deleteFile();

        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());

        juce::PNGImageFormat png;
        ASSERT_TRUE (png.writeImageToStream (snapshotOf (page), out));
    }

    /** The children MainComponent shows for a device state. */
    void showDeviceState (ConnectedView& page, int state)
    {
        page.currentState = state;
        page.updateButton.setVisible (state == 1);

        for (juce::Component* child : { (juce::Component*) &page.pathBox, (juce::Component*) &page.browseButton,
                                        (juce::Component*) &page.startButton, (juce::Component*) &page.downloadLink,
                                        (juce::Component*) &page.versionLabel })
            child->setVisible (state != 1);
    }

    juce::File firmwareSample (const ScopedTempFolder& folder)
    {
        juce::MemoryBlock data (136, true);
        const juce::uint8 version[] = { 'V', 1, 2, 10 };
        data.copyFrom (version, 28, 4);
        return folder.writeFile ("sample.bin", data);
    }
}

TEST (PageSnapshots, WritesEveryFaceInBothLanguagesAndModels)
{
    const ScopedEmbeddedTypeface typeface;
    ScopedTempFolder scratch;
    ScopedEnvironment environment;
    environment.set ("HOME", scratch.getFolder().getFullPathName().toStdString());

    for (const bool chinese : { false, true })
    {
        environment.useLanguage (chinese ? "zh_CN.UTF-8" : "en_US.UTF-8");
        const ScopedTranslations translations (chinese);
        const juce::String lang (chinese ? "zh" : "en");

        DisconnectedView disconnected;
        disconnected.setBounds (0, 0, 650, 414);
        writeSnapshot (disconnected, "disconnected_" + lang);
        disconnected.showHelpPage();
        writeSnapshot (disconnected, "disconnected_help_" + lang);

        for (const bool fullSize : { true, false })
        {
            const ScopedModel model (fullSize);
            const auto suffix = lang + (fullSize ? "_full" : "_mini");

            ConnectedView connected;
            connected.setBounds (0, 0, 650, 414);
            showDeviceState (connected, 1);
            writeSnapshot (connected, "connected_normal_" + suffix);

            showDeviceState (connected, 2);
            writeSnapshot (connected, "connected_update_" + suffix);

            connected.fileChosen (firmwareSample (scratch));
            writeSnapshot (connected, "connected_update_chosen_" + suffix);

            UpdateView update;
            update.setBounds (0, 0, 650, 414);
            update.progressSlider.setValue (0.4, juce::dontSendNotification);
            writeSnapshot (update, "update_" + suffix);
        }
    }
}
