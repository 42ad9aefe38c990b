#include "app/NewProjectApplication.h"

START_JUCE_APPLICATION (NewProjectApplication)
