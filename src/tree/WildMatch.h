#pragma once
// The one wildcard matcher of the program: file filter, protection and
// exclusion patterns, and folder-name patterns of the tree all use it.
#include <QString>
#include <stdexcept>

namespace velmor {

// Thrown for a pattern that cannot be matched, such as an unclosed "[".
class PatternError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whole-text match after lower-casing both texts. "?" one character, "*" any
// run (also none), "#" one digit, "[list]" one character of the list (ranges
// a-z, a leading "!" negates). Every other character stands for itself.
// Throws PatternError for an unclosed "[".
bool WildMatch(const QString& text, const QString& pattern);

} // namespace velmor
