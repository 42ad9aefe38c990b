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
    juce::uint32 crc32Of (const void* data, size_t size, juce::uint32 crc = 0)
    {
        crc = ~crc;

        for (size_t i = 0; i < size; ++i)
        {
            crc ^= static_cast<const juce::uint8*> (data)[i];

            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }

        return ~crc;
    }

    void writeChunk (juce::OutputStream& out, const char* type, const juce::MemoryBlock& body)
    {
        out.writeIntBigEndian ((int) body.getSize());
        out.write (type, 4);

        if (body.getSize() > 0)
            out.write (body.getData(), body.getSize());

        out.writeIntBigEndian ((int) crc32Of (body.getData(), body.getSize(), crc32Of (type, 4)));
    }

    // 8-bit RGBA, every row unfiltered and the whole compressed at the highest level:
    // the files come out smaller than with adaptive filters, and they decode in about
    // half the time, which the application's first paint waits for.
    bool writePng (const juce::Image& image, const juce::File& file)
    {
        const auto width = image.getWidth(), height = image.getHeight();
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);

        juce::MemoryOutputStream header;
        header.writeIntBigEndian (width);
        header.writeIntBigEndian (height);
        for (const auto byte : { 8, 6, 0, 0, 0 })     // depth, RGBA, deflate, filter set 0, no interlace
            header.writeByte ((char) byte);

        juce::MemoryOutputStream rows;
        {
            juce::GZIPCompressorOutputStream zlib (rows, 9);   // zlib format, as PNG wants

            for (int y = 0; y < height; ++y)
            {
                zlib.writeByte (0);                             // filter: none

                for (int x = 0; x < width; ++x)
                {
                    const auto colour = pixels.getPixelColour (x, y);   // not premultiplied
                    const char rgba[] { (char) colour.getRed(), (char) colour.getGreen(),
                                        (char) colour.getBlue(), (char) colour.getAlpha() };
                    zlib.write (rgba, 4);
                }
            }
        }

        file.deleteFile();
        juce::FileOutputStream out (file);

        if (! out.openedOk())
            return false;

        out.write ("\x89PNG\r\n\x1a\n", 8);
        writeChunk (out, "IHDR", header.getMemoryBlock());
        writeChunk (out, "IDAT", rows.getMemoryBlock());
        writeChunk (out, "IEND", {});
        out.flush();
        return out.getStatus().wasOk();
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
