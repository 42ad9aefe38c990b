// Draws the application's images into a folder (normally resources/images).
//
//   norvo_artwork <image folder> [--preview <folder>]
//
// With --preview it also renders every page with its widgets, at 650 x 414 and at
// twice that size, to look at the artwork in place.

#include "artwork/ArtworkSet.h"
#include "artwork/PagePreview.h"

#include "ui/DefaultLookAndFeel.h"

#include <cstdio>

namespace
{
    bool writePng (const juce::Image& image, const juce::File& file)
    {
        file.deleteFile();
        juce::FileOutputStream out (file);

        if (! out.openedOk())
            return false;

        juce::PNGImageFormat png;
        return png.writeImageToStream (image, out);
    }

    bool writeImages (const ArtworkSet& artwork, const juce::File& folder)
    {
        for (auto& name : artwork.getNames())
        {
            const auto image = artwork.create (name);
            const auto file = folder.getChildFile (name + ".png");

            if (! writePng (image, file))
            {
                std::printf ("cannot write %s\n", file.getFullPathName().toRawUTF8());
                return false;
            }

            std::printf ("%-28s %4d x %3d\n", name.toRawUTF8(), image.getWidth(), image.getHeight());
        }

        return true;
    }

    bool writePreviews (const ArtworkSet& artwork, const juce::File& folder)
    {
        const PagePreview preview (artwork);

        for (auto& page : PagePreview::getPageNames())
        {
            for (auto language : { Language::english, Language::chinese })
            {
                for (auto model : { Model::fullSize, Model::mini })
                {
                    // The disconnected and help pages are the same for both models.
                    if (model == Model::mini && (page == "disconnected" || page == "help"))
                        continue;

                    const auto name = page + (language == Language::english ? "_en" : "_zh")
                                    + (model == Model::fullSize ? "_full" : "_mini");

                    for (auto scale : { 1.0f, 2.0f })
                    {
                        const auto file = folder.getChildFile ("preview_" + name + (scale > 1.0f ? "@2x" : "") + ".png");

                        if (! writePng (preview.render (page, language, model, scale), file))
                            return false;
                    }
                }
            }
        }

        return true;
    }
}

int main (int argc, char* argv[])
{
    const juce::StringArray args (argv + 1, argc - 1);

    if (args.size() != 1 && ! (args.size() == 3 && args[1] == "--preview"))
    {
        std::printf ("usage: norvo_artwork <image folder> [--preview <folder>]\n");
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;

    const ArtworkSet artwork;

    DefaultLookAndFeel lookAndFeel;
    lookAndFeel.regularTypeface = artwork.getTypeface();
    lookAndFeel.boldTypeface = artwork.getTypeface();
    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

    const auto imageFolder = juce::File::getCurrentWorkingDirectory().getChildFile (args[0]);
    auto ok = imageFolder.createDirectory().wasOk() && writeImages (artwork, imageFolder);

    if (ok && args.size() == 3)
    {
        const auto previewFolder = juce::File::getCurrentWorkingDirectory().getChildFile (args[2]);
        ok = previewFolder.createDirectory().wasOk() && writePreviews (artwork, previewFolder);
    }

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    return ok ? 0 : 1;
}
