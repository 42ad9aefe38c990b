#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** Shows an alert window with one button and returns at once; the window deletes itself
    when its button is pressed. Message thread only.
*/
void showOneButtonAlert (const juce::String& title,
                         const juce::String& message,
                         juce::AlertWindow::AlertIconType iconType,
                         const juce::String& buttonText);

/** While set, alerts go to this function instead of the screen (for tests). */
using OneButtonAlertInterceptor = std::function<void (const juce::String& title,
                                                      const juce::String& message,
                                                      juce::AlertWindow::AlertIconType iconType,
                                                      const juce::String& buttonText)>;

void setOneButtonAlertInterceptor (OneButtonAlertInterceptor interceptor);
