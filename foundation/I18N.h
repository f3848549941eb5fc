// I18N: label texts from I18NTEXT with their placeholders filled.
//
// A missing label is never an error: the red text
// "<font color='red'>Error KEY</font>" stands in its place, and there is
// no fall-back from another locale to 1033.
#pragma once

#include <memory>
#include <string>

namespace quillon {

class Dictionary;

namespace I18N {

inline constexpr long kDefaultLocale = 1033;

std::string GetLabel(const std::string& key);
// Locale 0 means 1033.
std::string GetLabelForLocale(const std::string& key, long localeID);
// Keys of `replacements` are placeholders ("[%FILE%]"), items the values.
// A key beginning with "[%LABEL" names a label instead: its item is the
// inner label key with two extra characters on each side.
std::string GetLabelWithReplacements(const std::string& key, long localeID,
                                     const std::shared_ptr<Dictionary>& replacements);

// The text of a label with single values filled in, for the component's own
// information texts: GetLabel(key) with each (placeholder, value) replaced
// everywhere, ignoring letter case.
std::string LabelWith(const std::string& key, std::initializer_list<std::pair<std::string, std::string>> values);

}  // namespace I18N
}  // namespace quillon
