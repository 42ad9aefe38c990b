#include "ui/KRSliderL.h"

KRSliderL::~KRSliderL() = default;

// Without a mouse-down the slider never starts a drag, so its value cannot follow the mouse.
void KRSliderL::mouseMove (const juce::MouseEvent&) {}
void KRSliderL::mouseExit (const juce::MouseEvent&) {}
void KRSliderL::mouseDown (const juce::MouseEvent&) {}
void KRSliderL::mouseUp (const juce::MouseEvent&) {}
void KRSliderL::mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) {}
