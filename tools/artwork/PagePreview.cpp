#include "artwork/PagePreview.h"

#include "ui/KRLinearSliderLookAndFeel.h"
#include "ui/KRSliderL.h"

namespace
{
    void setButtonImage (juce::ImageButton& button, const juce::Image& image)
    {
        button.setImages (true, true, true,
                          image, 1.0f, juce::Colour (0x00000000),
                          {}, 0.8f, juce::Colour (0x00000000),
                          {}, 0.5f, juce::Colour (0x00000000), 0.0f);
    }

    /** A page: its image scaled into its bounds, optionally with the version heading. */
    struct Page : public juce::Component
    {
        void paint (juce::Graphics& g) override
        {
            g.drawImage (background, getLocalBounds().toFloat());

            if (versionHeading.isNotEmpty())
            {
                g.setFont (juce::Font (12.0f));
                g.setColour (juce::Colour (0xffffffff));
                g.drawText (versionHeading, 270, 244, 103, 17, juce::Justification::left, true);
            }
        }

        juce::Image background;
        juce::String versionHeading;
        juce::OwnedArray<juce::Component> children;
        KRLinearSliderLookAndFeel sliderLookAndFeel;
    };

    template <typename ComponentType>
    ComponentType& add (Page& page, juce::Rectangle<int> bounds)
    {
        auto* child = new ComponentType();
        page.children.add (child);
        page.addAndMakeVisible (child);
        child->setBounds (bounds);
        return *child;
    }

    juce::String suffixFor (Language language, Model model)
    {
        return juce::String (language == Language::english ? "en" : "zh") + (model == Model::fullSize ? "_full" : "_mini");
    }
}

PagePreview::PagePreview (const ArtworkSet& set) : artwork (set) {}

juce::StringArray PagePreview::getPageNames()
{
    return { "disconnected", "help", "connected_normal", "connected_update", "update" };
}

juce::Image PagePreview::render (const juce::String& name, Language language, Model model, float scale) const
{
    const auto lang = juce::String (language == Language::english ? "en" : "zh");
    const auto link = artwork.text (language, "There's no new firmware yet. Download it");

    Page page;
    page.setBounds (0, 0, 650, 414);

    if (name == "disconnected" || name == "help")
    {
        page.background = artwork.create ("disconnected_" + lang);

        if (name == "disconnected")
        {
            auto& help = add<juce::ImageButton> (page, {});
            setButtonImage (help, artwork.create ("help_button_" + lang));
            help.setBounds (255, 354, 140, 30);
        }
        else
        {
            auto& image = add<juce::ImageComponent> (page, page.getLocalBounds());
            image.setImage (artwork.create ("help_" + lang));

            auto& back = add<juce::ImageButton> (page, {});
            setButtonImage (back, artwork.create ("back_button"));
            back.setBounds (32, 31, 41, 13);

            auto& download = add<juce::HyperlinkButton> (page, { 303, 375, 305, 20 });
            download.setButtonText (link);
            download.setFont (juce::Font (14.0f), false, juce::Justification::horizontallyCentred);
            download.setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffb88a40));
        }
    }
    else if (name == "connected_normal")
    {
        page.background = artwork.create ("connected_normal_" + suffixFor (language, model));

        auto& update = add<juce::ImageButton> (page, {});
        setButtonImage (update, artwork.create ("start_disabled_" + lang));
        update.setBounds (286, 349, 79, 28);
    }
    else if (name == "connected_update")
    {
        page.background = artwork.create ("connected_update_" + suffixFor (language, model));
        page.versionHeading = artwork.text (language, "Updated version:");

        auto& path = add<juce::ComboBox> (page, { 270, 186, 270, 28 });
        path.setColour (juce::ComboBox::backgroundColourId, juce::Colour (0x00000000));
        path.addItem ("/home/user/Downloads/norvo-firmware-1.2.10.bin", 1);
        path.setSelectedId (1, juce::dontSendNotification);

        auto& browse = add<juce::ImageButton> (page, {});
        setButtonImage (browse, artwork.create ("browse_button"));
        browse.setBounds (550, 186, 28, 28);

        auto& start = add<juce::ImageButton> (page, {});
        setButtonImage (start, artwork.create ("start_enabled_" + lang));
        start.setBounds (499, 235, 79, 28);

        auto& download = add<juce::HyperlinkButton> (page, { 303, 294, 280, 20 });
        download.setButtonText (link);
        download.setFont (juce::Font (12.0f), false, juce::Justification::right);
        download.setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffd9b776));

        auto& version = add<juce::Label> (page, { language == Language::english ? 380 : 320, 244, 100, 17 });
        version.setFont (juce::Font (12.0f));
        version.setJustificationType (juce::Justification::left);
        version.setText ("V 1.2.10", juce::dontSendNotification);
    }
    else if (name == "update")
    {
        page.background = artwork.create ("update_" + suffixFor (language, model));

        auto& progress = add<KRSliderL> (page, { 206, 354, 227, 10 });
        progress.setSliderStyle (juce::Slider::LinearHorizontal);
        progress.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
        progress.setLookAndFeel (&page.sliderLookAndFeel);
        progress.setRange (0.0, 1.0, 0.0);
        progress.setValue (0.62, juce::dontSendNotification);
    }

    const auto snapshot = page.createComponentSnapshot (page.getLocalBounds(), true, scale);

    for (auto* child : page.children)
        child->setLookAndFeel (nullptr);

    return snapshot;
}
