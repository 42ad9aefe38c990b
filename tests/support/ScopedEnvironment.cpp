#include "tests/support/ScopedEnvironment.h"

#include <cstdlib>

ScopedEnvironment::~ScopedEnvironment()
{
    for (const auto& [name, value] : saved)
    {
        if (value.has_value())
            setenv (name.c_str(), value->c_str(), 1);
        else
            unsetenv (name.c_str());
    }
}

void ScopedEnvironment::remember (const std::string& name)
{
    if (saved.count (name) != 0)
        return;

    const char* value = std::getenv (name.c_str());
    saved[name] = value != nullptr ? std::optional<std::string> (value) : std::nullopt;
}

void ScopedEnvironment::set (const std::string& name, const std::string& value)
{
    remember (name);
    setenv (name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::unset (const std::string& name)
{
    remember (name);
    unsetenv (name.c_str());
}

void ScopedEnvironment::useLanguage (const std::string& lang)
{
    for (const auto* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES" })
        unset (name);

    set ("LANG", lang);
}
