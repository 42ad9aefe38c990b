#include "ui/UpdateView.h"

#include "ui/PageImages.h"

UpdateView::UpdateView()
{
    addAndMakeVisible (progressSlider);
    progressSlider.setSliderStyle (juce::Slider::LinearHorizontal);
    progressSlider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    progressSlider.setLookAndFeel (&sliderLookAndFeel);
    progressSlider.setRange (0.0, 1.0, 0.0);
    progressSlider.setScrollWheelEnabled (false);
    progressSlider.setSliderSnapsToMousePosition (false);
    progressSlider.setVisible (true);
}

UpdateView::~UpdateView()
{
    // The look-and-feel is destroyed before the slider that uses it.
    progressSlider.setLookAndFeel (nullptr);
}

void UpdateView::paint (juce::Graphics& g)
{
    const auto background = PageImages::updatePage();
    g.drawImage (background, 0, 0, getWidth(), getHeight(),
                 0, 0, background.getWidth(), background.getHeight());
}

void UpdateView::resized()
{
    progressSlider.setBounds (206, 354, 227, 10);
}

void UpdateView::setProgress (double value)
{
    juce::MessageManager::callAsync ([page = self, value]
    {
        if (page != nullptr)
            page->progressSlider.setValue (value, juce::dontSendNotification);
    });
}
