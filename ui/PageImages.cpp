#include "ui/PageImages.h"

#include "device/ConstVar.h"
#include "ui/PreferredLanguage.h"

#include "BinaryData.h"

namespace
{
    using PageImages::Embedded;

    juce::Image load (Embedded image)
    {
        return juce::ImageCache::getFromMemory (image.data, image.size);
    }

    Embedded byLanguageSource (Embedded english, Embedded chinese)
    {
        return isChineseLanguage() ? chinese : english;
    }

    juce::Image byLanguage (Embedded english, Embedded chinese)
    {
        return load (byLanguageSource (english, chinese));
    }

    juce::Image byLanguageAndModel (Embedded englishFull, Embedded englishMini,
                                    Embedded chineseFull, Embedded chineseMini)
    {
        const bool fullSize = ConstVar::getInstance()->isFullSizeModel;
        return isChineseLanguage() ? load (fullSize ? chineseFull : chineseMini)
                                   : load (fullSize ? englishFull : englishMini);
    }
}

#define NORVO_EMBEDDED(name) Embedded { BinaryData::name, BinaryData::name##Size }

namespace
{
    Embedded disconnectedBackgroundSource()
    {
        return byLanguageSource (NORVO_EMBEDDED (disconnected_en_png), NORVO_EMBEDDED (disconnected_zh_png));
    }

    Embedded helpPageSource()
    {
        return byLanguageSource (NORVO_EMBEDDED (help_en_png), NORVO_EMBEDDED (help_zh_png));
    }
}

namespace PageImages
{
    std::vector<Embedded> startImages()
    {
        return { disconnectedBackgroundSource(), helpPageSource() };
    }

    juce::Image disconnectedBackground()
    {
        return load (disconnectedBackgroundSource());
    }

    juce::Image helpPage()
    {
        return load (helpPageSource());
    }

    juce::Image helpButton()
    {
        return byLanguage (NORVO_EMBEDDED (help_button_en_png), NORVO_EMBEDDED (help_button_zh_png));
    }

    juce::Image backButton()
    {
        return load (NORVO_EMBEDDED (back_button_png));
    }

    juce::Image connectedPage (bool deviceInUpdateMode)
    {
        if (deviceInUpdateMode)
            return byLanguageAndModel (NORVO_EMBEDDED (connected_update_en_full_png), NORVO_EMBEDDED (connected_update_en_mini_png),
                                       NORVO_EMBEDDED (connected_update_zh_full_png), NORVO_EMBEDDED (connected_update_zh_mini_png));

        return byLanguageAndModel (NORVO_EMBEDDED (connected_normal_en_full_png), NORVO_EMBEDDED (connected_normal_en_mini_png),
                                   NORVO_EMBEDDED (connected_normal_zh_full_png), NORVO_EMBEDDED (connected_normal_zh_mini_png));
    }

    juce::Image startButton (bool enabled)
    {
        if (enabled)
            return byLanguage (NORVO_EMBEDDED (start_enabled_en_png), NORVO_EMBEDDED (start_enabled_zh_png));

        return byLanguage (NORVO_EMBEDDED (start_disabled_en_png), NORVO_EMBEDDED (start_disabled_zh_png));
    }

    juce::Image browseButton()
    {
        return load (NORVO_EMBEDDED (browse_button_png));
    }

    juce::Image updatePage()
    {
        return byLanguageAndModel (NORVO_EMBEDDED (update_en_full_png), NORVO_EMBEDDED (update_en_mini_png),
                                   NORVO_EMBEDDED (update_zh_full_png), NORVO_EMBEDDED (update_zh_mini_png));
    }
}

#undef NORVO_EMBEDDED
