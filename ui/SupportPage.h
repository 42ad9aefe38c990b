#pragma once

/** The maker's support web page, where new firmware is offered for download.
    Both download links of the application point here.
*/
namespace SupportPage
{
    inline constexpr const char* address = "https://www.example.com/norvo/support";
}
