#include "support/patterns.h"

#include <regex>

namespace testing_support {
namespace {

template <typename Text>
void Keep(const std::match_results<typename Text::const_iterator>& match, std::vector<Text>* groups) {
  if (groups == nullptr) return;
  groups->clear();
  for (const auto& group : match) groups->push_back(group.str());
}

template <typename Text>
bool Matched(const Text& text, const Text& pattern, std::vector<Text>* groups, bool whole,
             std::regex_constants::match_flag_type flags = std::regex_constants::match_default) {
  const std::basic_regex<typename Text::value_type> compiled(pattern);
  std::match_results<typename Text::const_iterator> match;
  const bool found = whole ? std::regex_match(text.cbegin(), text.cend(), match, compiled, flags)
                           : std::regex_search(text.cbegin(), text.cend(), match, compiled, flags);
  if (found) Keep(match, groups);
  return found;
}

}  // namespace

bool WholeMatch(const std::string& text, const std::string& pattern, std::vector<std::string>* groups) {
  return Matched(text, pattern, groups, true);
}
bool WholeMatch(const std::wstring& text, const std::wstring& pattern, std::vector<std::wstring>* groups) {
  return Matched(text, pattern, groups, true);
}
bool Search(const std::string& text, const std::string& pattern, std::vector<std::string>* groups) {
  return Matched(text, pattern, groups, false);
}
bool Search(const std::wstring& text, const std::wstring& pattern, std::vector<std::wstring>* groups) {
  return Matched(text, pattern, groups, false);
}
bool SearchAtStart(const std::string& text, const std::string& pattern, std::vector<std::string>* groups) {
  return Matched(text, pattern, groups, false, std::regex_constants::match_continuous);
}
std::string ReplaceAll(const std::string& text, const std::string& pattern, const std::string& with) {
  return std::regex_replace(text, std::regex(pattern), with);
}
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern, const std::wstring& with) {
  return std::regex_replace(text, std::wregex(pattern), with);
}

}  // namespace testing_support
