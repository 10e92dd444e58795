// What both programs call themselves.
#pragma once

namespace tarvi {

// The title of every message box and the monitor's caption at rest.
inline constexpr const char16_t* kAppTitle = u"Tarviメールチェッカー";

}  // namespace tarvi
