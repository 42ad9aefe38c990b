#include "device/ConstVar.h"

ConstVar* ConstVar::instance = nullptr;

ConstVar::ConstVar()
{
    const juce::StringArray names { "-", "Metal", "World", "Indie", "Country", "Rock",
                                    "Funk", "Pop", "Blues", "Jazz", "Bass", "Acoustic" };

    for (int i = 0; i < names.size(); ++i)
        categoryNames[i] = names[i];

    factor = 1.0f;
}

ConstVar::~ConstVar()
{
    instance = nullptr;
}

ConstVar* ConstVar::getInstance()
{
    if (instance == nullptr)
        instance = new ConstVar();

    return instance;
}

void ConstVar::deleteInstance()
{
    delete instance;
}
