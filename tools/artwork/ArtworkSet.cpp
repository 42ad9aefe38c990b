#include "artwork/ArtworkSet.h"

#include "artwork/DeviceDrawings.h"

#include "BinaryData.h"

namespace
{
    constexpr int pageWidth = 1300, pageHeight = 828;
    constexpr float margin = 64.0f;

    const juce::String languageSuffix[] = { "en", "zh" };
    const juce::String modelSuffix[] = { "full", "mini" };

    juce::String suffix (Language language) { return languageSuffix[(int) language]; }
    juce::String suffix (Model model)       { return modelSuffix[(int) model]; }

    std::unique_ptr<juce::LocalisedStrings> tableFrom (const char* data, int size)
    {
        return std::make_unique<juce::LocalisedStrings> (juce::String::createStringFromData (data, size), false);
    }

    /** Splits "First sentence. Second" (or the Chinese comma) into its two halves. */
    std::pair<juce::String, juce::String> splitAtFirstClause (const juce::String& text)
    {
        for (auto separator : { juce::String (". "), juce::String (juce::CharPointer_UTF8 ("，")) })
        {
            const auto index = text.indexOf (separator);

            if (index > 0)
                return { text.substring (0, index + (separator == ". " ? 1 : 0)),
                         text.substring (index + separator.length()).trim() };
        }

        return { text, {} };
    }

    void drawWarningTriangle (juce::Graphics& g, juce::Point<float> centre, float size)
    {
        juce::Path triangle;
        triangle.addTriangle (centre.x, centre.y - size * 0.5f,
                              centre.x + size * 0.56f, centre.y + size * 0.45f,
                              centre.x - size * 0.56f, centre.y + size * 0.45f);
        triangle = triangle.createPathWithRoundedCorners (size * 0.12f);

        g.setColour (Palette::gold);
        g.fillPath (triangle);

        g.setColour (Palette::groundBottom);
        g.fillRoundedRectangle (centre.x - size * 0.05f, centre.y - size * 0.2f, size * 0.1f, size * 0.36f, size * 0.05f);
        g.fillEllipse (centre.x - size * 0.06f, centre.y + size * 0.23f, size * 0.12f, size * 0.12f);
    }

    void drawUnpluggedIcon (juce::Graphics& g, juce::Point<float> centre, float radius)
    {
        // A plug and a socket pulled apart, inside a quiet disc.
        g.setColour (juce::Colour (0xff212226));
        g.fillEllipse (juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre));
        g.setColour (Palette::line);
        g.drawEllipse (juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre), 2.0f);

        const auto u = radius / 100.0f;
        const auto stroke = juce::PathStrokeType (5.0f * u, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
        const auto at = [&] (float x, float y) { return juce::Point<float> (centre.x + x * u, centre.y + y * u); };

        juce::Path plug;
        plug.startNewSubPath (at (-92, 0));
        plug.lineTo (at (-58, 0));
        plug.addRoundedRectangle (at (-58, -20).x, at (-58, -20).y, 34.0f * u, 40.0f * u, 6.0f * u);
        plug.addRectangle (at (-24, -12).x, at (-24, -12).y, 16.0f * u, 24.0f * u);

        juce::Path socket;
        socket.startNewSubPath (at (92, 0));
        socket.lineTo (at (58, 0));
        socket.addRoundedRectangle (at (18, -24).x, at (18, -24).y, 40.0f * u, 48.0f * u, 6.0f * u);
        socket.addRectangle (at (18, -14).x, at (18, -14).y, 12.0f * u, 28.0f * u);

        g.setColour (Palette::drawing);
        g.strokePath (plug, stroke);
        g.strokePath (socket, stroke);

        // Sparks in the gap.
        g.setColour (Palette::gold);
        g.drawLine ({ at (0, -30), at (6, -46) }, 4.0f * u);
        g.drawLine ({ at (0, 30), at (6, 46) }, 4.0f * u);
        g.drawLine ({ at (-3, -14), at (9, 14) }, 4.0f * u);
    }

    void drawFolderIcon (juce::Graphics& g, juce::Rectangle<float> area, juce::Colour colour, float stroke)
    {
        const auto x = area.getX(), y = area.getY(), w = area.getWidth(), h = area.getHeight();

        juce::Path folder;
        folder.startNewSubPath (x, y + h * 0.12f);
        folder.lineTo (x + w * 0.36f, y + h * 0.12f);
        folder.lineTo (x + w * 0.46f, y + h * 0.26f);
        folder.lineTo (x + w, y + h * 0.26f);
        folder.lineTo (x + w, y + h);
        folder.lineTo (x, y + h);
        folder.closeSubPath();

        g.setColour (colour.withAlpha (0.18f));
        g.fillPath (folder);
        g.setColour (colour);
        g.strokePath (folder, juce::PathStrokeType (stroke, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        g.drawLine (x, y + h * 0.42f, x + w, y + h * 0.42f, stroke);
    }
}

//==============================================================================
ArtworkSet::ArtworkSet()
    : typeface (juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize)),
      english (tableFrom (BinaryData::english_txt, BinaryData::english_txtSize)),
      chinese (tableFrom (BinaryData::chinese_txt, BinaryData::chinese_txtSize))
{
    for (auto language : { Language::english, Language::chinese })
    {
        const auto lang = suffix (language);

        makers["disconnected_" + lang] = [this, language] { return disconnectedPage (language); };
        makers["help_" + lang]         = [this, language] { return helpPage (language); };
        makers["help_button_" + lang]  = [this, language] { return helpButton (language); };
        makers["start_enabled_" + lang]  = [this, language] { return startButton (language, true); };
        makers["start_disabled_" + lang] = [this, language] { return startButton (language, false); };

        for (auto model : { Model::fullSize, Model::mini })
        {
            const auto variant = lang + "_" + suffix (model);

            makers["connected_normal_" + variant] = [this, language, model] { return connectedNormalPage (language, model); };
            makers["connected_update_" + variant] = [this, language, model] { return connectedUpdatePage (language, model); };
            makers["update_" + variant]           = [this, language, model] { return updatePage (language, model); };
        }
    }

    makers["back_button"]    = [this] { return backButton(); };
    makers["browse_button"]  = [this] { return browseButton(); };
    makers["progress_track"] = [this] { return progressTrack(); };
}

juce::StringArray ArtworkSet::getNames() const
{
    juce::StringArray names;

    for (auto& maker : makers)
        names.add (maker.first);

    return names;
}

juce::Image ArtworkSet::create (const juce::String& name) const
{
    const auto found = makers.find (name);
    return found != makers.end() ? found->second() : juce::Image();
}

juce::String ArtworkSet::text (Language language, const juce::String& key) const
{
    return (language == Language::english ? english : chinese)->translate (key);
}

juce::String ArtworkSet::restartHint (Language language) const
{
    // English keeps this row under a misspelled key; Chinese translates the corrected one.
    return language == Language::english ? text (language, "Restart the device r software")
                                         : text (language, "Restart the device or software");
}

ArtworkCanvas ArtworkSet::pageCanvas() const
{
    ArtworkCanvas canvas (pageWidth, pageHeight, typeface);
    canvas.fillPageGround();
    return canvas;
}

ArtworkCanvas ArtworkSet::buttonCanvas (int width, int height, juce::Colour ground) const
{
    ArtworkCanvas canvas (width, height, typeface);
    auto& g = canvas.graphics();
    const auto bounds = juce::Rectangle<float> ((float) width, (float) height);
    const auto corner = (float) height * 0.2f;

    g.setColour (ground);
    g.fillRoundedRectangle (bounds, corner);
    g.setColour (Palette::line.brighter (0.15f));
    g.drawRoundedRectangle (bounds.reduced (1.0f), corner, 2.0f);
    return canvas;
}

//==============================================================================
juce::Image ArtworkSet::disconnectedPage (Language language) const
{
    auto canvas = pageCanvas();
    auto& g = canvas.graphics();
    const auto centreX = pageWidth * 0.5f;

    canvas.drawWordmark (Model::fullSize, { margin, 50.0f }, 50.0f);

    canvas.drawGlow ({ centreX, 280.0f }, 260.0f, 0.07f);
    drawUnpluggedIcon (g, { centreX, 280.0f }, 112.0f);

    const juce::Rectangle<float> column (margin, 0.0f, pageWidth - 2.0f * margin, 0.0f);

    canvas.drawLine (text (language, "Device is not connected"), column.withY (432.0f).withHeight (64.0f),
                     64.0f, Palette::text, juce::Justification::centred);
    canvas.drawLine (text (language, "Please connect your device"), column.withY (508.0f).withHeight (38.0f),
                     38.0f, Palette::muted, juce::Justification::centred);

    // The two quick remedies.
    canvas.drawLine (text (language, "Reconnect the device or replace the USB cable"),
                     column.withY (584.0f).withHeight (30.0f), 30.0f, Palette::dim, juce::Justification::centred);
    canvas.drawLine (restartHint (language),
                     column.withY (626.0f).withHeight (30.0f), 30.0f, Palette::dim, juce::Justification::centred);

    return canvas.getImage();
}

juce::Image ArtworkSet::helpPage (Language language) const
{
    auto canvas = pageCanvas();
    auto& g = canvas.graphics();
    const auto left = 96.0f;
    const auto columnWidth = 650.0f;

    // Beside the back button (drawn by the page at the top left).
    canvas.drawLine (text (language, "Back"), { 124.0f, 56.0f, 200.0f, 38.0f }, 32.0f, Palette::muted);

    auto y = canvas.drawWrapped (text (language, "Can't connect to the device? Try the following:"),
                                 { left, 132.0f, columnWidth, 200.0f }, 42.0f, 54.0f, Palette::text) + 24.0f;

    for (auto& wording : { text (language, "Reconnect the device or replace the USB cable"), restartHint (language) })
    {
        g.setColour (Palette::gold);
        g.fillEllipse (left + 2.0f, y + 12.0f, 10.0f, 10.0f);
        y = canvas.drawWrapped (wording, { left + 30.0f, y, columnWidth - 30.0f, 200.0f }, 32.0f, 42.0f, Palette::muted) + 12.0f;
    }

    g.setColour (Palette::hairline);
    g.fillRect (left, y + 14.0f, columnWidth, 2.0f);
    y += 40.0f;

    y = canvas.drawWrapped (text (language, "Unable to connect to device. Try to update firmware"),
                            { left, y, columnWidth, 200.0f }, 36.0f, 46.0f, Palette::gold) + 20.0f;

    for (auto key : { "1. Disconnect the power supply and keep the USB connected to the device",
                      "2. Press and hold the UPDAT button and access the power supply at the same time",
                      "3. The button software prompts you to update the firmware" })
    {
        y = canvas.drawWrapped (text (language, key), { left, y, columnWidth, 200.0f }, 30.0f, 38.0f, Palette::text) + 18.0f;
    }

    // Both models, with the control to hold while switching on marked in gold.
    const auto labelFont = canvas.font (20.0f);
    const auto full = DeviceDrawings::fit (Model::fullSize, { 786.0f, 130.0f, 450.0f, 240.0f });
    const auto mini = DeviceDrawings::fit (Model::mini, { 900.0f, 440.0f, 220.0f, 220.0f });

    canvas.drawGlow (full.getCentre(), 300.0f, 0.05f);
    DeviceDrawings::draw (g, Model::fullSize, full, labelFont, true);
    DeviceDrawings::draw (g, Model::mini, mini, labelFont, true);

    canvas.drawLine ("Norvo", { full.getX(), full.getBottom() + 14.0f, full.getWidth(), 32.0f }, 30.0f,
                     Palette::muted, juce::Justification::centred);
    canvas.drawLine ("Norvo Mini", { mini.getCentreX() - 150.0f, mini.getBottom() + 14.0f, 300.0f, 32.0f }, 30.0f,
                     Palette::muted, juce::Justification::centred);

    return canvas.getImage();
}

juce::Image ArtworkSet::connectedNormalPage (Language language, Model model) const
{
    auto canvas = pageCanvas();
    auto& g = canvas.graphics();
    const auto centreX = pageWidth * 0.5f;

    canvas.drawWordmark (model, { margin, 50.0f }, 50.0f);

    const auto device = DeviceDrawings::fit (model, { centreX - 300.0f, 150.0f, 600.0f, model == Model::fullSize ? 310.0f : 330.0f });
    canvas.drawGlow (device.getCentre(), 380.0f, 0.08f);
    DeviceDrawings::draw (g, model, device, canvas.font (20.0f));

    canvas.drawStatus (text (language, "Device connected"), { centreX, 538.0f }, 48.0f);

    canvas.drawWrapped (text (language, "Note: The device will restart once, and it is normal for the unconnected font to appear. Please wait for 3 to 5 seconds"),
                        { centreX - 450.0f, 590.0f, 900.0f, 100.0f }, 26.0f, 36.0f, Palette::dim, juce::Justification::horizontallyCentred);

    return canvas.getImage();
}

juce::Image ArtworkSet::connectedUpdatePage (Language language, Model model) const
{
    auto canvas = pageCanvas();
    auto& g = canvas.graphics();

    canvas.drawWordmark (model, { margin, 50.0f }, 50.0f);

    // Left: the connected device.
    const auto leftCentreX = 280.0f;
    const auto device = DeviceDrawings::fit (model, { leftCentreX - 200.0f, 200.0f, 400.0f, 300.0f });
    canvas.drawGlow (device.getCentre(), 280.0f, 0.08f);
    DeviceDrawings::draw (g, model, device, canvas.font (20.0f));
    canvas.drawStatus (text (language, "Device connected"), { leftCentreX, 574.0f }, 38.0f);

    g.setColour (Palette::hairline);
    g.fillRect (508.0f, 190.0f, 2.0f, 460.0f);

    // Right: the firmware choice; the path box, buttons, version and link lie on top.
    const auto right = 540.0f;
    canvas.drawLine (text (language, "Firmware Update"), { right, 196.0f, 620.0f, 60.0f }, 56.0f, Palette::text);
    canvas.drawWrapped (text (language, "Select a firmware and click the Update button below"),
                        { right, 276.0f, 620.0f, 80.0f }, 30.0f, 40.0f, Palette::muted);

    const juce::Rectangle<float> pathField (right, 372.0f, 540.0f, 56.0f);
    g.setColour (Palette::field);
    g.fillRoundedRectangle (pathField, 8.0f);
    g.setColour (Palette::line);
    g.drawRoundedRectangle (pathField.reduced (1.0f), 8.0f, 2.0f);

    return canvas.getImage();
}

juce::Image ArtworkSet::updatePage (Language language, Model model) const
{
    auto canvas = pageCanvas();
    auto& g = canvas.graphics();
    const auto centreX = pageWidth * 0.5f;

    canvas.drawWordmark (model, { margin, 50.0f }, 50.0f);

    const auto device = DeviceDrawings::fit (model, { centreX - 280.0f, 150.0f, 560.0f, model == Model::fullSize ? 290.0f : 300.0f });
    canvas.drawGlow (device.getCentre(), 360.0f, 0.1f);
    DeviceDrawings::draw (g, model, device, canvas.font (20.0f));

    const auto [progress, warning] = splitAtFirstClause (text (language, "Firmware is being updated. Do not shut down the device"));

    canvas.drawLine (progress, { margin, 500.0f, pageWidth - 2.0f * margin, 60.0f }, 56.0f, Palette::text, juce::Justification::centred);

    if (warning.isNotEmpty())
    {
        const auto height = 36.0f;
        const auto width = canvas.font (height).getStringWidthFloat (warning);
        const auto iconSize = height * 0.8f;
        const auto left = centreX - (width + iconSize + 16.0f) * 0.5f;

        drawWarningTriangle (g, { left + iconSize * 0.5f, 606.0f }, iconSize);
        canvas.drawLine (warning, { left + iconSize + 16.0f, 606.0f - height * 0.5f, width + 8.0f, height }, height, Palette::gold);
    }

    return canvas.getImage();
}

//==============================================================================
juce::Image ArtworkSet::helpButton (Language language) const
{
    auto canvas = buttonCanvas (280, 60, Palette::panel);
    auto& g = canvas.graphics();
    const auto wording = text (language, "Still can't connect the device");

    // The largest size that leaves room for the chevron.
    auto height = 28.0f;

    while (height > 14.0f && canvas.font (height).getStringWidthFloat (wording) > 214.0f)
        height -= 0.5f;

    canvas.drawLine (wording, { 18.0f, 0.0f, 222.0f, 60.0f }, height, Palette::text, juce::Justification::centred);

    juce::Path chevron;
    chevron.startNewSubPath (252.0f, 22.0f);
    chevron.lineTo (260.0f, 30.0f);
    chevron.lineTo (252.0f, 38.0f);
    g.setColour (Palette::gold);
    g.strokePath (chevron, juce::PathStrokeType (3.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));

    return canvas.getImage();
}

juce::Image ArtworkSet::backButton() const
{
    ArtworkCanvas canvas (28, 28, typeface);

    juce::Path chevron;
    chevron.startNewSubPath (17.5f, 6.0f);
    chevron.lineTo (9.5f, 14.0f);
    chevron.lineTo (17.5f, 22.0f);

    canvas.graphics().setColour (Palette::text);
    canvas.graphics().strokePath (chevron, juce::PathStrokeType (3.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    return canvas.getImage();
}

juce::Image ArtworkSet::browseButton() const
{
    auto canvas = buttonCanvas (56, 56, Palette::panel);
    drawFolderIcon (canvas.graphics(), { 14.0f, 15.0f, 28.0f, 24.0f }, Palette::gold, 2.6f);
    return canvas.getImage();
}

juce::Image ArtworkSet::startButton (Language language, bool enabled) const
{
    const auto width = enabled && language == Language::english ? 200 : 158;
    auto canvas = buttonCanvas (width, 56, enabled ? Palette::line : Palette::panel);

    const auto wording = enabled ? text (language, "Update now")
                                 : (language == Language::english ? juce::String ("Update") : text (language, "Firmware Update"));

    canvas.drawLine (wording, { 0.0f, 0.0f, (float) width, 56.0f }, 30.0f,
                     enabled ? Palette::goldBright : Palette::muted, juce::Justification::centred);
    return canvas.getImage();
}

juce::Image ArtworkSet::progressTrack() const
{
    ArtworkCanvas canvas (448, 20, typeface);
    auto& g = canvas.graphics();
    const juce::Rectangle<float> bounds (448.0f, 20.0f);

    g.setColour (juce::Colour (0xff36373c));
    g.fillRoundedRectangle (bounds, 10.0f);

    // A hint of depth: darker at the top edge.
    g.setGradientFill (juce::ColourGradient::vertical (juce::Colours::black.withAlpha (0.35f), 0.0f,
                                                       juce::Colours::black.withAlpha (0.0f), 8.0f));
    g.fillRoundedRectangle (bounds, 10.0f);

    g.setColour (juce::Colour (0xff4a4b51));
    g.drawRoundedRectangle (bounds.reduced (1.0f), 9.0f, 2.0f);
    return canvas.getImage();
}
