#pragma once

#include <juce_core/juce_core.h>

#include <map>
#include <optional>
#include <string>

/** Sets environment variables for the lifetime of the object and puts back
    what was there before (set or unset) when it ends.
*/
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();

    void set (const std::string& name, const std::string& value);
    void unset (const std::string& name);

    /** Clears every variable the language is read from, then sets LANG. */
    void useLanguage (const std::string& lang);

private:
    void remember (const std::string& name);

    std::map<std::string, std::optional<std::string>> saved;

    JUCE_DECLARE_NON_COPYABLE (ScopedEnvironment)
};
