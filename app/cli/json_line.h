// A source's report as one line of JSON, for scripts that read --json.
#pragma once

#include <string>
#include <string_view>

#include "conversion_driver.h"

namespace dravik {

// A JSON string: bytes that are not UTF-8 become U+FFFD, and controls,
// quotes and backslashes are escaped.
std::string JsonString(std::string_view text);

// {"path": …, "member": …, "reader": …, "description": …, "disks": …,
//  "outputs": […], "result": …, "messages": […]} and a line feed. Log texts
// lose their leading line breaks, CR LF becomes LF; empty ones are left out.
std::string JsonLine(const SourceReport& report);

std::string_view ResultName(SourceResult result);

}  // namespace dravik
