#include "device/OneButtonAlert.h"

namespace
{
    OneButtonAlertInterceptor& getInterceptor()
    {
        static OneButtonAlertInterceptor interceptor;
        return interceptor;
    }
}

void showOneButtonAlert (const juce::String& title,
                         const juce::String& message,
                         juce::AlertWindow::AlertIconType iconType,
                         const juce::String& buttonText)
{
    if (auto& interceptor = getInterceptor())
    {
        interceptor (title, message, iconType, buttonText);
        return;
    }

    auto window = std::make_unique<juce::AlertWindow> (title, message, iconType, nullptr);
    window->addButton (buttonText, 0);
    window->setColour (juce::AlertWindow::backgroundColourId, juce::Colour (0xff202123));

    // The modal manager owns the window from here and deletes it once it is dismissed.
    window.release()->enterModalState (true, juce::ModalCallbackFunction::create ([] (int) {}), true);
}

void setOneButtonAlertInterceptor (OneButtonAlertInterceptor interceptor)
{
    getInterceptor() = std::move (interceptor);
}
