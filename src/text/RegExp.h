// TRegExp: the regular-expression adapter every parser goes through. ECMAScript-like dialect on RE2 (linear time),
// UTF-8 subjects; match values are exact substrings of the subject.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// Raised for a pattern the adapter cannot compile.
class ERegExpError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TRegExp {
  public:
    TRegExp();
    ~TRegExp();
    TRegExp(const TRegExp&) = delete;
    TRegExp& operator=(const TRegExp&) = delete;

    void SetGlobal(bool global);
    void SetPattern(std::string_view pattern);
    void SetIgnoreCase(bool ignoreCase);
    // Multiline stays off in every use; there is no setter.

    // Match values in order of position: every non-overlapping match with Global, else at most the first.
    // Throws ERegExpError when the pattern is invalid.
    std::vector<std::string> Execute(std::string_view subject);

    // Global and IgnoreCase set, then Execute: the one call every parser uses.
    std::vector<std::string> AllMatches(std::string_view pattern, std::string_view subject);

    // The matches Execute finds, handed over one at a time (views into the subject) until onMatch returns false,
    // so that a page with millions of matches costs no list of them.
    void ForEachMatch(std::string_view subject, const std::function<bool(std::string_view)>& onMatch);
    // Global and IgnoreCase set, then ForEachMatch.
    void ForEachMatch(std::string_view pattern, std::string_view subject,
                      const std::function<bool(std::string_view)>& onMatch);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The pattern as RE2 receives it: the dialect translation (exposed for tests and diagnostics).
std::string TranslatePattern(std::string_view pattern, bool ignoreCase);

}  // namespace vexo
