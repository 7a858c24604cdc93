// Regular expressions (ECMAScript grammar) for the tests. They are compiled in one source file
// of their own: <regex> adds seconds to the compile of every file that includes it.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// Whether the pattern matches the whole text; groups (when given) get the match's groups, the
// whole match first.
bool WholeMatch(const std::string& text, const std::string& pattern, std::vector<std::string>* groups = nullptr);
bool WholeMatch(const std::wstring& text, const std::wstring& pattern, std::vector<std::wstring>* groups = nullptr);

// Whether the pattern matches somewhere in the text; groups get the first match's.
bool Search(const std::string& text, const std::string& pattern, std::vector<std::string>* groups = nullptr);
bool Search(const std::wstring& text, const std::wstring& pattern, std::vector<std::wstring>* groups = nullptr);

// Whether the pattern matches at the very start of the text (not the whole of it).
bool SearchAtStart(const std::string& text, const std::string& pattern, std::vector<std::string>* groups = nullptr);

// Every match replaced by the replacement ($1 names a group).
std::string ReplaceAll(const std::string& text, const std::string& pattern, const std::string& with);
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern, const std::wstring& with);

}  // namespace testing_support
